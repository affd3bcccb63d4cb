// The plug-in's side of the host connection, as the plug-in sees it: typed calls of host
// resources, HTTP through the host, published resource changes, counted event subscriptions with
// delivery to typed handlers, resource observers, delayed callbacks and the service-proxy queues.
// The bridge is a front: the outgoing calls live in resource_call and host_http (given caller()),
// the state in three components with their own locks (event_subscriptions, delayed_callbacks,
// service_proxy_queues). The host operations are declared in HostOperations and forwarded to the
// host's function table by PluginBase.
#ifndef PLUGIN_RUNTIME_PLUGIN_HOST_BRIDGE_H_
#define PLUGIN_RUNTIME_PLUGIN_HOST_BRIDGE_H_

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_value.h"
#include "binding/native_conversion.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/delayed_callbacks.h"
#include "plugin_runtime/event_subscriptions.h"
#include "plugin_runtime/host_caller.h"
#include "plugin_runtime/host_http.h"
#include "plugin_runtime/remoting_typed_result.h"
#include "plugin_runtime/resource_call.h"
#include "plugin_runtime/runtime_builtin_types.h"
#include "plugin_runtime/service_proxy_queues.h"

namespace binding {
class BindingTypeRegistry;
}

namespace plugin_runtime {

class TelemetrySender;

class PluginHostBridge : public HostOperations {
 public:
  using ResourceObserver = EventSubscriptions::ResourceObserver;
  using ServiceProxyHandler = ServiceProxyQueues::Handler;
  using DelayedFunction = DelayedCallbacks::Function;
  using MonotonicClock = std::int64_t (*)();

  PluginHostBridge();
  PluginHostBridge(const PluginHostBridge&) = delete;
  PluginHostBridge& operator=(const PluginHostBridge&) = delete;
  virtual ~PluginHostBridge();

  // Counted subscription to the change events of `path`'s event family (see
  // wire::ResourceEventName): the first subscribe of a family subscribes at the host, the last
  // unsubscribe unsubscribes there. An unsubscribe without a subscribe does nothing. Any thread may
  // call them, handlers included.
  void subscribe(std::string_view path) override;
  void unsubscribe(std::string_view path) override;

  // Unsubscribes every event at the host and empties the handler, observer, subscription,
  // service-proxy and delayed-callback tables. Called by stop, after which the host calls none
  // of this plug-in's callbacks.
  virtual void shutdown();

  // The narrow view outgoing calls take: the host operations (declared in HostOperations and
  // forwarded to the host's table by PluginBase), the registry, the handle and the user agent.
  HostCaller caller() { return HostCaller(*this, registry_, plugin_handle_, user_agent_); }

  // ---- Typed calls of host resources -----------------------------------------------------------
  // Calls `method` (a host method code) on `path` with `args` as unnamed arguments and returns
  // the response as T (see CallTyped for the types and failure messages). Blocks until the host
  // answers; any thread may call it once the plug-in has started.
  template <typename T = void, typename... Args>
  Vorn::RemotingTypedResult<T> typedCall(std::uint32_t method, std::string_view path,
                                         const Args&... args) {
    CallArguments arguments;
    (arguments.Add(args, callRegistry()), ...);
    return typedCallWith<T>(method, path, arguments);
  }

  // As typedCall, with named or prepared arguments.
  template <typename T = void>
  Vorn::RemotingTypedResult<T> typedCallWith(std::uint32_t method, std::string_view path,
                                             const CallArguments& arguments) {
    return CallTyped<T>(caller(), method, path, arguments);
  }

  // A call whose streamed body is wanted as text, unparsed. A response that is not streamed
  // gives its value written as JSON.
  template <typename... Args>
  Vorn::RemotingTypedResult<std::string> streamedCall(std::uint32_t method, std::string_view path,
                                                      const Args&... args) {
    CallArguments arguments;
    (arguments.Add(args, callRegistry()), ...);
    return CallStreamedText(caller(), method, path, arguments);
  }

  // ---- HTTP through the host -------------------------------------------------------------------
  // See host_http.h. Blocks until the host answers.
  HttpResponse sendHttp(const HttpRequest& request, HttpBodyForm form = HttpBodyForm::kJson);
  // GET of an absolute URL whose body is kept as text; `flag` is the request record's final flag.
  HttpResponse getText(std::string url, std::vector<std::pair<std::string, std::string>> headers,
                       std::uint32_t timeout, std::uint8_t flag = 0);

  // ---- Publishing resource changes -------------------------------------------------------------
  // Sends a PluginResourceEvent {uri: path, eventType, data} under the event name derived from
  // `path` and again under `event_name` when that differs. Fails with 500 and the conversion
  // message when `data` cannot be converted; nothing is sent then.
  template <binding::BindingConvertible T>
  Vorn::RemotingTypedResult<void> publishResourceChange(
      Vorn::Client::PluginResourceEventType type, std::string_view path, const T& data,
      std::string_view event_name = kJsonApiEventName) {
    binding::BindingConversionResult event;
    event.value.reserveFields(3);
    // "data" sorts first, so the produced tree is built in key order without shifts.
    binding::ProduceMember(event, event.value.fieldForWrite("data"), data, callRegistry());
    if (!event.ok) return Vorn::InternalServerError(std::string(binding::errorText(event)));
    return sendResourceEvent(type, path, event.value, event_name);
  }
  // A "Delete" event with empty data.
  Vorn::RemotingTypedResult<void> publishResourceDelete(
      std::string_view path, std::string_view event_name = kJsonApiEventName);

  // ---- Events and observers --------------------------------------------------------------------
  // Delivers the host event `name` to `handler`, converted to Payload (binding::BindingValue for
  // the value as it came); an event whose payload does not convert is dropped. Replaces the
  // handler of that name. Does not subscribe at the host (subscribe and the service-proxy
  // registration do). Handlers run on the host's delivery thread, without any lock of ours held.
  template <binding::BindingConvertible Payload>
  void registerEventHandler(std::string name, std::function<void(const Payload&)> handler) {
    const binding::BindingTypeRegistry& registry = callRegistry();
    auto delivery = [handler = std::move(handler), &registry](const binding::BindingValue& payload,
                                                              std::string& error) {
      if constexpr (std::same_as<Payload, binding::BindingValue>) {
        handler(payload);
      } else {
        Payload native{};
        binding::BindingConversionResult assigned =
            binding::fromValue(payload, native, registry, "payload");
        if (!assigned.ok) {
          error = binding::errorText(assigned);
          return false;
        }
        handler(native);
      }
      return true;
    };
    events_.SetHandler(std::move(name), std::move(delivery));
  }

  // Calls `observer` with every change event of `path`. A path containing "*" adds a wildcard
  // observer (see MatchesResourcePattern); any other replaces the observer of exactly that path
  // and reads the resource at once: when that GET succeeds the observer receives a "Create"
  // event with the value. Subscribes to the path's events (counted).
  void observeResource(std::string path, ResourceObserver observer);

  // ---- Delayed callbacks -----------------------------------------------------------------------
  // Asks the host to run `function` once at `deadline_ns` on the monotonic clock (at once when
  // that has passed) and returns the callback's id (1, 2, ...). `label` names the callback in
  // the host's diagnostics. Any thread may call it. The entry is removed once the function ran,
  // whether it returned or threw. Nothing cancels it at the host: a callback fired after stop,
  // or after this object is gone, runs nothing; stop waits for a callback that is running.
  std::uint64_t scheduleDelayed(std::string_view label, std::int64_t deadline_ns,
                                DelayedFunction function);
  // The plug-in's one clock: monotonic nanoseconds. Deadlines given to scheduleDelayed, token
  // lifetimes and cache ages are all read from it, so a test that moves it moves them together.
  std::int64_t now() const { return clock_(); }
  // Replaces the clock now() reads (tests move time by hand).
  void setMonotonicClock(MonotonicClock clock) { clock_ = clock; }
  std::size_t pendingDelayedCount() const { return delayed_.PendingCount(); }

  // ---- Service proxy ---------------------------------------------------------------------------
  // Completes `handler` once with the first uuid or method response queued under `key` (a uuid,
  // or "service.method"), whether it came before or comes after this call.
  void awaitServiceProxyResponse(std::string key, ServiceProxyHandler handler) {
    service_proxy_.AwaitResponse(std::move(key), std::move(handler));
  }
  // Receives every async service-proxy event of `key` ("service.method"); replaces the previous
  // handler of that key.
  void setServiceProxyAsyncHandler(std::string key, ServiceProxyHandler handler) {
    service_proxy_.SetAsyncHandler(std::move(key), std::move(handler));
  }

  // ---- Services ---------------------------------------------------------------------------------
  // Created at start; null before. Owned by the bridge.
  TelemetrySender* telemetry() const { return telemetry_.get(); }

  bool stopping() const { return stopping_.load(std::memory_order_acquire); }
  std::uint32_t pluginHandle() const { return plugin_handle_; }
  const std::string& shortName() const { return short_name_; }
  const std::string& userAgent() const { return user_agent_; }
  binding::BindingTypeRegistry* registry() const { return registry_; }

 protected:
  // Written during load and start, read afterwards.
  void attachRegistry(binding::BindingTypeRegistry* registry) { registry_ = registry; }
  // Also creates the telemetry sender.
  void attachHost(std::uint32_t plugin_handle, std::string short_name, std::string user_agent);
  void markStopping() { stopping_.store(true, std::memory_order_release); }
  // Handles and subscribes (flag 1) the three service-proxy events. Called by start.
  void registerServiceProxyHandlers();

 private:
  static void deliverHostEvent(const HostEventDelivery* delivery);

  const binding::BindingTypeRegistry& callRegistry() const;
  void subscribeAtHost(const std::string& name, std::int32_t flag);
  void unsubscribeAtHost(const std::string& name);
  void deliverEvent(const char* name, const HostValue& value);
  void dispatchResourceEvent(const Vorn::Client::PluginResourceEvent& event);
  Vorn::RemotingTypedResult<void> sendResourceEvent(Vorn::Client::PluginResourceEventType type,
                                                    std::string_view path,
                                                    binding::BindingValue& event,
                                                    std::string_view event_name);

  // Written during load and start, read afterwards.
  binding::BindingTypeRegistry* registry_ = nullptr;  // owned by PluginBase
  std::uint32_t plugin_handle_ = 0;
  std::string short_name_;
  std::string user_agent_;
  std::unique_ptr<TelemetrySender> telemetry_;
  MonotonicClock clock_;

  // Declared before the delayed callbacks, which read it until they are closed.
  std::atomic<bool> stopping_{false};

  EventSubscriptions events_;
  DelayedCallbacks delayed_{stopping_};
  ServiceProxyQueues service_proxy_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_PLUGIN_HOST_BRIDGE_H_
