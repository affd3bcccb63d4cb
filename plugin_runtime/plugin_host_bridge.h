// The plug-in's side of the host connection: counted event subscriptions, the tables of pending
// work and the host operations every plug-in needs, declared here and forwarded to the host's
// function table by PluginBase.
#ifndef PLUGIN_RUNTIME_PLUGIN_HOST_BRIDGE_H_
#define PLUGIN_RUNTIME_PLUGIN_HOST_BRIDGE_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_host_interface.h"

namespace binding {
class BindingTypeRegistry;
}

namespace plugin_runtime {

// Something that can be told to follow or stop following a resource path's change events.
class EventSubscriberInterface {
 public:
  virtual void subscribe(std::string_view path) {}
  virtual void unsubscribe(std::string_view path) {}

 protected:
  ~EventSubscriberInterface() = default;
};

class PluginHostBridge : public EventSubscriberInterface {
 public:
  PluginHostBridge() = default;
  PluginHostBridge(const PluginHostBridge&) = delete;
  PluginHostBridge& operator=(const PluginHostBridge&) = delete;
  virtual ~PluginHostBridge();

  // Unsubscribes every event at the host and empties the handler and pending-work tables. The
  // host calls stop once, after which no callback of this plug-in may run.
  virtual void shutdown();

  // The host operations, in the order of the host's function table. Each borrows its arguments
  // for the duration of the call only.
  virtual void callResource(HostResponse* response, const HostRequest* request) = 0;
  virtual void sendHttpRequest(const HostHttpRequest* request, HostHttpResponse* response) = 0;
  virtual void sendEvent(const HostEvent* event) = 0;
  virtual void subscribeEvent(const char* name, std::uint32_t plugin_handle,
                              HostEventCallback callback, void* context, std::int32_t flag) = 0;
  virtual void unsubscribeEvent(const char* name, std::uint32_t plugin_handle) = 0;
  virtual void scheduleCallback(const char* label, HostDelayedCallback callback, void* context,
                                double delay_seconds, std::int32_t zero) = 0;
  virtual void yieldWait() = 0;
  virtual void setWaitReason(const char* text, std::int32_t zero) = 0;
  virtual void finishWait() = 0;

  bool stopping() const { return stopping_.load(std::memory_order_acquire); }
  std::uint32_t pluginHandle() const { return plugin_handle_; }
  const std::string& userAgent() const { return user_agent_; }
  binding::BindingTypeRegistry* registry() const { return registry_; }

 protected:
  // Written during load and start, read afterwards.
  void AttachRegistry(binding::BindingTypeRegistry* registry) { registry_ = registry; }
  void AttachHost(std::uint32_t plugin_handle, std::string short_name, std::string user_agent);
  void MarkStopping() { stopping_.store(true, std::memory_order_release); }

  // Event names this plug-in subscribed at the host; shutdown unsubscribes each.
  std::vector<std::string> host_subscriptions_;

 private:
  binding::BindingTypeRegistry* registry_ = nullptr;  // owned by PluginBase
  std::uint32_t plugin_handle_ = 0;
  std::string short_name_;
  std::string user_agent_;
  // Guards the pending delayed callbacks and their id counter.
  std::mutex delayed_mutex_;
  std::uint64_t next_delayed_id_ = 1;
  // Guards the tables of pending service-proxy work.
  std::mutex pending_work_mutex_;
  std::atomic<bool> stopping_{false};
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_PLUGIN_HOST_BRIDGE_H_
