#include "plugin_runtime/plugin_log_target.h"

#include <string>

namespace plugin_runtime {

PluginLogTarget::PluginLogTarget(const HostFunctionTable* host, std::int32_t level) : host_(host) {
  SetLevel(level);
  SetGroups(0, 0);
}

bool PluginLogTarget::Write(const logging::LogRecord& record) {
  // The record's message is a view; the host wants a terminated text.
  const std::string message(record.message);
  host_->writeLog(host_, record.level, message.c_str());
  return true;
}

}  // namespace plugin_runtime
