// What an outgoing call needs of the plug-in object and nothing more: the host operations, the
// type registry, the plug-in's handle and its user agent. Typed resource calls, HTTP through the
// host and telemetry take a HostCaller, so they depend on this header and never on the bridge
// that hands it out.
#ifndef PLUGIN_RUNTIME_HOST_CALLER_H_
#define PLUGIN_RUNTIME_HOST_CALLER_H_

#include <cstdint>
#include <string_view>

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

// The host operations, in the order of the host's function table. Each borrows its arguments for
// the duration of the call only. PluginBase forwards them to the table; the bridge between the
// two derives from this, so the chain stays one class deep at each step.
class HostOperations : public EventSubscriberInterface {
 public:
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

 protected:
  ~HostOperations() = default;
};

// `registry`, or when it is null (before the handshake attached the plug-in's), a registry that
// knows no records: conversions of records then fail with their usual message instead of
// crashing.
const binding::BindingTypeRegistry& RegistryOrEmpty(const binding::BindingTypeRegistry* registry);

// A borrowed view: the operations, registry and user agent must outlive it. Cheap to copy; any
// thread that may call the host may use it.
class HostCaller {
 public:
  HostCaller(HostOperations& host, const binding::BindingTypeRegistry* registry,
             std::uint32_t plugin_handle, std::string_view user_agent)
      : host_(&host), registry_(registry), plugin_handle_(plugin_handle), user_agent_(user_agent) {}

  HostOperations& host() const { return *host_; }
  const binding::BindingTypeRegistry& registry() const { return RegistryOrEmpty(registry_); }
  // Null before the handshake; the host value conversions accept that.
  const binding::BindingTypeRegistry* registryOrNull() const { return registry_; }
  std::uint32_t pluginHandle() const { return plugin_handle_; }
  std::string_view userAgent() const { return user_agent_; }

  // Lets the host run its own work while a streamed body has more to come but not yet:
  // "Wait: yield", then yield, then finish the wait.
  void yieldForStream() const;

 private:
  HostOperations* host_;
  const binding::BindingTypeRegistry* registry_;
  std::uint32_t plugin_handle_;
  std::string_view user_agent_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_HOST_CALLER_H_
