#include "plugin_runtime/plugin_host_bridge.h"

#include <cstdint>
#include <memory>
#include <utility>

#include "binding/binding_type_registry.h"
#include "binding/host_value_conversion.h"
#include "binding/json_bridge.h"
#include "logging/logger.h"
#include "platform/monotonic_clock.h"
#include "plugin_runtime/entry_scope.h"
#include "plugin_runtime/resource_paths.h"
#include "plugin_runtime/telemetry_sender.h"
#include "wire/resource_event_name.h"

namespace plugin_runtime {

using Vorn::Client::PluginResourceEvent;
using Vorn::Client::PluginResourceEventType;
using Vorn::Client::PluginServiceProxyResponse;

namespace {

// Trace points go to the "XTR" group, which the plug-in's start suppresses: silent unless
// someone lifts the suppression while debugging.
constexpr std::int32_t kTraceLevel = logging::kOkay;
constexpr std::uint64_t kTraceGroups = logging::kGroupXtr;

bool TraceEnabled() { return (logging::Logger::SuppressedGroups() & kTraceGroups) == 0; }

constexpr std::int32_t kResourceSubscriptionFlag = 0;
constexpr std::int32_t kServiceProxySubscriptionFlag = 1;

}  // namespace

PluginHostBridge::PluginHostBridge() : clock_(&platform::MonotonicNanoseconds) {}

PluginHostBridge::~PluginHostBridge() { delayed_.Close(); }

void PluginHostBridge::attachHost(std::uint32_t plugin_handle, std::string short_name,
                                  std::string user_agent) {
  plugin_handle_ = plugin_handle;
  short_name_ = std::move(short_name);
  user_agent_ = std::move(user_agent);
  service_proxy_.SetLogName(short_name_);
  telemetry_ = std::make_unique<TelemetrySender>(caller());
}

const binding::BindingTypeRegistry& PluginHostBridge::callRegistry() const {
  return RegistryOrEmpty(registry_);
}

// ---- HTTP -------------------------------------------------------------------------------------

HttpResponse PluginHostBridge::sendHttp(const HttpRequest& request, HttpBodyForm form) {
  return SendHttpRequest(caller(), request, form);
}

HttpResponse PluginHostBridge::getText(std::string url,
                                       std::vector<std::pair<std::string, std::string>> headers,
                                       std::uint32_t timeout, std::uint8_t flag) {
  HttpRequest request;
  request.method = kHostMethodGet;
  request.url = std::move(url);
  request.headers = std::move(headers);
  request.timeout = timeout;
  request.flag = flag;
  return SendHttpRequest(caller(), request, HttpBodyForm::kText);
}

// ---- Publishing -------------------------------------------------------------------------------

Vorn::RemotingTypedResult<void> PluginHostBridge::publishResourceDelete(
    std::string_view path, std::string_view event_name) {
  binding::BindingValue event;
  event.reserveFields(3);
  event.fieldForWrite("data");
  return sendResourceEvent(PluginResourceEventType::kDelete, path, event, event_name);
}

Vorn::RemotingTypedResult<void> PluginHostBridge::sendResourceEvent(PluginResourceEventType type,
                                                                    std::string_view path,
                                                                    binding::BindingValue& event,
                                                                    std::string_view event_name) {
  // The same tree toValue would produce for a PluginResourceEvent, built in place so that the
  // data is converted once.
  event.fieldForWrite("eventType")
      .setEnum(static_cast<std::int32_t>(type),
               &binding::BindingStaticTypeOf<PluginResourceEventType>());
  event.fieldForWrite("uri").setString(path);

  HostValue value = binding::toHostValue(event, registry_);
  const std::string derived = wire::ResourceEventName(path);
  HostEvent record{};
  record.name = derived.c_str();
  record.value = value;
  if (TraceEnabled()) {
    logging::Log(kTraceLevel, kTraceGroups, "%s: Sending event: %s", short_name_.c_str(),
                 derived.c_str());
  }
  sendEvent(&record);
  if (event_name != derived) {
    const std::string given(event_name);
    record.name = given.c_str();
    if (TraceEnabled()) {
      logging::Log(kTraceLevel, kTraceGroups, "%s: Sending event: %s", short_name_.c_str(),
                   given.c_str());
    }
    sendEvent(&record);
  }
  binding::ReleaseHostValue(value);
  return {};
}

// ---- Subscriptions and delivery ---------------------------------------------------------------

void PluginHostBridge::subscribeAtHost(const std::string& name, std::int32_t flag) {
  if (TraceEnabled()) {
    logging::Log(kTraceLevel, kTraceGroups, "%s: Subscribing to event: %s", short_name_.c_str(),
                 name.c_str());
  }
  subscribeEvent(name.c_str(), plugin_handle_, &deliverHostEvent, this, flag);
}

void PluginHostBridge::unsubscribeAtHost(const std::string& name) {
  if (TraceEnabled()) {
    logging::Log(kTraceLevel, kTraceGroups, "%s: Unsubscribing to event: %s", short_name_.c_str(),
                 name.c_str());
  }
  unsubscribeEvent(name.c_str(), plugin_handle_);
}

void PluginHostBridge::subscribe(std::string_view path) {
  std::string name = wire::ResourceEventName(path);
  const bool first = events_.AddSubscription(
      name, [this](const binding::BindingValue& payload, std::string& error) {
        PluginResourceEvent event;
        binding::BindingConversionResult assigned =
            binding::fromValue(payload, event, callRegistry(), "payload");
        if (!assigned.ok) {
          error = binding::errorText(assigned);
          return false;
        }
        dispatchResourceEvent(event);
        return true;
      });
  // The host may deliver at once; the handler is in place before it can.
  if (first) subscribeAtHost(name, kResourceSubscriptionFlag);
}

void PluginHostBridge::unsubscribe(std::string_view path) {
  std::string name = wire::ResourceEventName(path);
  if (events_.RemoveSubscription(name)) unsubscribeAtHost(name);
}

void PluginHostBridge::deliverHostEvent(const HostEventDelivery* delivery) {
  // Called by the host on its own threads: nothing may unwind into it. A delivery without the
  // context this bridge subscribed with belongs to no subscription of ours.
  if (delivery == nullptr || delivery->context == nullptr) return;
  const EntryScope entry;
  try {
    void* context = delivery->context;
    const HostValue value = delivery->value;
    static_cast<PluginHostBridge*>(context)->deliverEvent(delivery->name, value);
  } catch (...) {
    logging::Log(logging::kError, logging::kGroupDbg, "event callback: unexpected exception");
  }
}

void PluginHostBridge::deliverEvent(const char* name, const HostValue& value) {
  if (stopping() || name == nullptr) return;
  std::shared_ptr<const EventSubscriptions::EventDelivery> handler = events_.FindHandler(name);
  if (handler == nullptr) return;
  if (TraceEnabled()) {
    logging::Log(kTraceLevel, kTraceGroups, "%s: Handling event %s", short_name_.c_str(), name);
  }
  binding::BindingConversionResult payload = binding::fromHostValue(value, "payload");
  std::string error;
  if (!payload.ok) {
    error = binding::errorText(payload);
  } else if ((*handler)(payload.value, error)) {
    return;
  }
  if (TraceEnabled()) {
    logging::Log(kTraceLevel, kTraceGroups, "%s: Couldn't convert payload %s for event %s: %s",
                 short_name_.c_str(), binding::toJson(payload.value, registry_).c_str(), name,
                 error.c_str());
  }
}

void PluginHostBridge::dispatchResourceEvent(const PluginResourceEvent& event) {
  std::string path = event.uri;
  if (!path.starts_with('/')) path.insert(path.begin(), '/');
  for (const auto& observer : events_.ObserversOf(path)) (*observer)(event);
}

void PluginHostBridge::observeResource(std::string path, ResourceObserver observer) {
  std::shared_ptr<const ResourceObserver> shared = events_.AddObserver(path, std::move(observer));
  const bool wildcard = path.find('*') != std::string::npos;
  subscribe(path);
  if (wildcard) return;
  Vorn::RemotingTypedResult<binding::BindingValue> initial =
      typedCall<binding::BindingValue>(kHostMethodGet, path);
  if (!initial.ok()) return;
  PluginResourceEvent event;
  event.uri = path;
  event.eventType = PluginResourceEventType::kCreate;
  event.data = std::move(initial).value();
  (*shared)(event);
}

// ---- Delayed callbacks ------------------------------------------------------------------------

std::uint64_t PluginHostBridge::scheduleDelayed(std::string_view label, std::int64_t deadline_ns,
                                                DelayedFunction function) {
  const DelayedCallbacks::Added added = delayed_.Add(std::move(function));
  const std::int64_t remaining = deadline_ns - now();
  const double delay_seconds = remaining > 0 ? static_cast<double>(remaining) * 1e-9 : 0.0;
  const std::string label_text(label);
  scheduleCallback(label_text.c_str(), &DelayedCallbacks::RunEntry, added.context, delay_seconds,
                   0);
  return added.id;
}

// ---- Service proxy ----------------------------------------------------------------------------

void PluginHostBridge::registerServiceProxyHandlers() {
  registerEventHandler<PluginServiceProxyResponse>(
      std::string(kServiceProxyUuidEventName), [this](const PluginServiceProxyResponse& response) {
        service_proxy_.QueueResponse(response.uuid, response);
      });
  registerEventHandler<PluginServiceProxyResponse>(
      std::string(kServiceProxyMethodEventName),
      [this](const PluginServiceProxyResponse& response) {
        service_proxy_.QueueResponse(response.serviceName + "." + response.methodName, response);
      });
  registerEventHandler<PluginServiceProxyResponse>(
      std::string(kServiceProxyAsyncEventName),
      [this](const PluginServiceProxyResponse& response) { service_proxy_.HandleAsync(response); });
  for (std::string_view name :
       {kServiceProxyUuidEventName, kServiceProxyMethodEventName, kServiceProxyAsyncEventName}) {
    const std::string owned(name);
    events_.RecordHostSubscription(owned);
    subscribeAtHost(owned, kServiceProxySubscriptionFlag);
  }
}

// ---- Stop -------------------------------------------------------------------------------------

void PluginHostBridge::shutdown() {
  for (const std::string& name : events_.TakeHostSubscriptions()) unsubscribeAtHost(name);
  events_.Clear();
  service_proxy_.Clear();
  delayed_.Close();
}

}  // namespace plugin_runtime
