// The log target that hands the plug-in's log records to the host's writeLog.
#ifndef PLUGIN_RUNTIME_PLUGIN_LOG_TARGET_H_
#define PLUGIN_RUNTIME_PLUGIN_LOG_TARGET_H_

#include <cstdint>

#include "logging/log_target.h"
#include "plugin_host_interface.h"

namespace plugin_runtime {

class PluginLogTarget : public logging::LogTarget {
 public:
  static constexpr const char* kClassName = "PluginLogTarget";

  // `host` must outlive the target. No group masks; the level is the logger's global level.
  PluginLogTarget(const HostFunctionTable* host, std::int32_t level);

  const char* ClassName() const override { return kClassName; }
  // Passes the record's level and its formatted message (not the rendered line) to the host.
  bool Write(const logging::LogRecord& record) override;

 private:
  const HostFunctionTable* host_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_PLUGIN_LOG_TARGET_H_
