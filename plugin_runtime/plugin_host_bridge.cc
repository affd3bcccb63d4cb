#include "plugin_runtime/plugin_host_bridge.h"

#include <utility>

namespace plugin_runtime {

PluginHostBridge::~PluginHostBridge() = default;

void PluginHostBridge::AttachHost(std::uint32_t plugin_handle, std::string short_name,
                                  std::string user_agent) {
  plugin_handle_ = plugin_handle;
  short_name_ = std::move(short_name);
  user_agent_ = std::move(user_agent);
  // The telemetry sender joins here once outgoing calls exist.
}

void PluginHostBridge::shutdown() {
  for (const std::string& name : host_subscriptions_) {
    unsubscribeEvent(name.c_str(), plugin_handle_);
  }
  host_subscriptions_.clear();
  {
    // Event handlers, subscription counts and service-proxy queues are emptied here as they
    // arrive with outgoing calls and events.
    std::lock_guard<std::mutex> lock(pending_work_mutex_);
  }
  std::lock_guard<std::mutex> lock(delayed_mutex_);
  next_delayed_id_ = 1;
}

}  // namespace plugin_runtime
