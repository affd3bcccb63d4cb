#include "plugin_runtime/plugin_log_target.h"

#include <cstring>
#include <string>

#include "logging/positional_formatter.h"

namespace plugin_runtime {

PluginLogTarget::PluginLogTarget(const HostFunctionTable* host, std::int32_t level) : host_(host) {
  SetLevel(level);
  SetGroups(0, 0);
}

bool PluginLogTarget::Write(const logging::LogRecord& record) {
  // The record's message is a view; the host wants a terminated text. Messages the logger
  // formats fit its buffer, so the copy stays on the stack; only longer ones take the heap.
  char text[logging::kMessageBufferSize];
  if (record.message.size() < sizeof text) {
    std::memcpy(text, record.message.data(), record.message.size());
    text[record.message.size()] = '\0';
    host_->writeLog(host_, record.level, text);
    return true;
  }
  const std::string message(record.message);
  host_->writeLog(host_, record.level, message.c_str());
  return true;
}

}  // namespace plugin_runtime
