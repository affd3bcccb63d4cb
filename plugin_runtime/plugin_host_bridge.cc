#include "plugin_runtime/plugin_host_bridge.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <utility>

#include "binding/binding_type_registry.h"
#include "binding/host_value_conversion.h"
#include "binding/json_bridge.h"
#include "logging/logger.h"
#include "platform/monotonic_clock.h"
#include "plugin_runtime/resource_paths.h"
#include "plugin_runtime/telemetry_sender.h"

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

// One registry for calls made before the handshake attached the plug-in's: it knows no records,
// so conversions of records fail with their usual message instead of crashing.
const binding::BindingTypeRegistry& EmptyRegistry() {
  static const binding::BindingTypeRegistry* const kRegistry = new binding::BindingTypeRegistry();
  return *kRegistry;
}

}  // namespace

// The pending delayed callbacks of one bridge.
struct PluginHostBridge::DelayedTable {
  struct Entry {
    std::uintptr_t ticket = 0;
    DelayedFunction function;
  };

  explicit DelayedTable(const PluginHostBridge* owner) : bridge(owner) {}

  // Runs the function stored under `id`, then removes its entry, also when the function throws.
  void Run(std::uint64_t id);
  // Runs nothing from now on; waits for a function that is running. Drops every entry and its
  // ticket.
  void Close();

  // Held shared while a function runs and exclusively to close, so that closing waits for it.
  std::shared_mutex run_mutex;
  bool closed = false;             // guarded by run_mutex
  const PluginHostBridge* bridge;  // valid while not closed

  // Guards the id counter and the entries. Functions run with it released, so they may
  // schedule the next one.
  std::mutex mutex;
  std::uint64_t next_id = 1;
  std::map<std::uint64_t, Entry> entries;
};

namespace {

// The contexts handed to the host with delayed callbacks are tickets: numbers looked up in this
// process-wide table, never addresses. The host may hold one past the plug-in's life; the table
// then no longer knows it, or knows it only with an expired owner. Leaked on purpose: a host may
// fire a callback while the process exits.
struct DelayedTicket {
  std::weak_ptr<PluginHostBridge::DelayedTable> table;
  std::uint64_t id;
};

struct TicketTable {
  std::mutex mutex;
  std::uintptr_t next = 1;
  std::map<std::uintptr_t, DelayedTicket> tickets;
};

TicketTable& Tickets() {
  static TicketTable* const kTable = new TicketTable();
  return *kTable;
}

std::uintptr_t IssueTicket(const std::shared_ptr<PluginHostBridge::DelayedTable>& table,
                           std::uint64_t id) {
  TicketTable& tickets = Tickets();
  std::lock_guard<std::mutex> lock(tickets.mutex);
  // A counter the width of a pointer wraps only after as many callbacks as there are addresses;
  // 0 is skipped so that a null context is never a ticket.
  std::uintptr_t ticket = tickets.next++;
  if (ticket == 0) ticket = tickets.next++;
  tickets.tickets[ticket] = DelayedTicket{table, id};
  return ticket;
}

// The owner and id of `ticket`, which is used up; a null owner when it is unknown or expired.
std::pair<std::shared_ptr<PluginHostBridge::DelayedTable>, std::uint64_t> RedeemTicket(
    std::uintptr_t ticket) {
  TicketTable& tickets = Tickets();
  std::lock_guard<std::mutex> lock(tickets.mutex);
  auto found = tickets.tickets.find(ticket);
  if (found == tickets.tickets.end()) return {nullptr, 0};
  std::pair<std::shared_ptr<PluginHostBridge::DelayedTable>, std::uint64_t> owner{
      found->second.table.lock(), found->second.id};
  tickets.tickets.erase(found);
  return owner;
}

void DropTickets(const std::vector<std::uintptr_t>& dropped) {
  if (dropped.empty()) return;
  TicketTable& tickets = Tickets();
  std::lock_guard<std::mutex> lock(tickets.mutex);
  for (std::uintptr_t ticket : dropped) tickets.tickets.erase(ticket);
}

}  // namespace

void PluginHostBridge::DelayedTable::Run(std::uint64_t id) {
  std::shared_lock<std::shared_mutex> running(run_mutex);
  if (closed) return;
  const DelayedFunction* function = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = entries.find(id);
    if (found == entries.end()) return;
    function = &found->second.function;
  }
  struct RemoveEntry {
    DelayedTable& table;
    std::uint64_t id;
    ~RemoveEntry() {
      std::lock_guard<std::mutex> lock(table.mutex);
      table.entries.erase(id);
    }
  } remove{*this, id};
  // Only this callback removes its own entry, and closing waits for it, so the function stays
  // valid while it runs.
  if (!bridge->stopping() && *function) (*function)();
}

void PluginHostBridge::DelayedTable::Close() {
  std::vector<std::uintptr_t> dropped;
  {
    std::unique_lock<std::shared_mutex> running(run_mutex);
    closed = true;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [id, entry] : entries) dropped.push_back(entry.ticket);
    entries.clear();
  }
  DropTickets(dropped);
}

PluginHostBridge::PluginHostBridge()
    : clock_(&platform::MonotonicNanoseconds), delayed_(std::make_shared<DelayedTable>(this)) {}

PluginHostBridge::~PluginHostBridge() { delayed_->Close(); }

void PluginHostBridge::AttachHost(std::uint32_t plugin_handle, std::string short_name,
                                  std::string user_agent) {
  plugin_handle_ = plugin_handle;
  short_name_ = std::move(short_name);
  user_agent_ = std::move(user_agent);
  telemetry_ = std::make_unique<TelemetrySender>(*this);
}

const binding::BindingTypeRegistry& PluginHostBridge::CallRegistry() const {
  return registry_ != nullptr ? *registry_ : EmptyRegistry();
}

// ---- HTTP -------------------------------------------------------------------------------------

HttpResponse PluginHostBridge::SendHttp(const HttpRequest& request, HttpBodyForm form) {
  return SendHttpRequest(*this, request, form);
}

HttpResponse PluginHostBridge::GetText(std::string url,
                                       std::vector<std::pair<std::string, std::string>> headers,
                                       std::uint32_t timeout, std::uint8_t flag) {
  HttpRequest request;
  request.method = kHostMethodGet;
  request.url = std::move(url);
  request.headers = std::move(headers);
  request.timeout = timeout;
  request.flag = flag;
  return SendHttpRequest(*this, request, HttpBodyForm::kText);
}

// ---- Publishing -------------------------------------------------------------------------------

Vorn::RemotingTypedResult<void> PluginHostBridge::PublishResourceDelete(
    std::string_view path, std::string_view event_name) {
  binding::BindingValue event;
  event.ReserveFields(3);
  event.fieldForWrite("data");
  return SendResourceEvent(PluginResourceEventType::kDelete, path, event, event_name);
}

Vorn::RemotingTypedResult<void> PluginHostBridge::SendResourceEvent(PluginResourceEventType type,
                                                                    std::string_view path,
                                                                    binding::BindingValue& event,
                                                                    std::string_view event_name) {
  // The same tree toValue would produce for a PluginResourceEvent, built in place so that the
  // data is converted once.
  event.fieldForWrite("eventType")
      .SetEnum(static_cast<std::int32_t>(type),
               &binding::BindingStaticTypeOf<PluginResourceEventType>());
  event.fieldForWrite("uri").SetString(path);

  HostValue value = binding::toHostValue(event, registry_);
  const std::string derived = ResourceEventName(path);
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

void PluginHostBridge::SetEventHandler(std::string name, EventDelivery delivery) {
  auto shared = std::make_shared<const EventDelivery>(std::move(delivery));
  std::unique_lock lock(events_mutex_);
  event_handlers_[std::move(name)] = std::move(shared);
}

void PluginHostBridge::SubscribeAtHost(const std::string& name, std::int32_t flag) {
  if (TraceEnabled()) {
    logging::Log(kTraceLevel, kTraceGroups, "%s: Subscribing to event: %s", short_name_.c_str(),
                 name.c_str());
  }
  subscribeEvent(name.c_str(), plugin_handle_, &DeliverHostEvent, this, flag);
}

void PluginHostBridge::subscribe(std::string_view path) {
  std::string name = ResourceEventName(path);
  {
    std::unique_lock lock(events_mutex_);
    if (++subscription_counts_[name] != 1) return;
    event_handlers_[name] = std::make_shared<const EventDelivery>(
        [this](const binding::BindingValue& payload, std::string& error) {
          PluginResourceEvent event;
          binding::BindingConversionResult assigned =
              binding::fromValue(payload, event, CallRegistry(), "payload");
          if (!assigned.ok) {
            error = binding::errorText(assigned);
            return false;
          }
          DispatchResourceEvent(event);
          return true;
        });
    host_subscriptions_.push_back(name);
  }
  // The host may deliver at once; the handler is in place before it can.
  SubscribeAtHost(name, kResourceSubscriptionFlag);
}

void PluginHostBridge::unsubscribe(std::string_view path) {
  std::string name = ResourceEventName(path);
  {
    std::unique_lock lock(events_mutex_);
    auto count = subscription_counts_.find(name);
    if (count == subscription_counts_.end()) return;
    if (--count->second > 0) return;
    subscription_counts_.erase(count);
    event_handlers_.erase(name);
    std::erase(host_subscriptions_, name);
  }
  if (TraceEnabled()) {
    logging::Log(kTraceLevel, kTraceGroups, "%s: Unsubscribing to event: %s", short_name_.c_str(),
                 name.c_str());
  }
  unsubscribeEvent(name.c_str(), plugin_handle_);
}

void PluginHostBridge::DeliverHostEvent(const HostEventDelivery* delivery) {
  // Called by the host on its own threads: nothing may unwind into it. A delivery without the
  // context this bridge subscribed with belongs to no subscription of ours.
  if (delivery == nullptr || delivery->context == nullptr) return;
  try {
    void* context = delivery->context;
    const HostValue value = delivery->value;
    static_cast<PluginHostBridge*>(context)->DeliverEvent(delivery->name, value);
  } catch (...) {
    logging::Log(logging::kError, logging::kGroupDbg, "event callback: unexpected exception");
  }
}

void PluginHostBridge::DeliverEvent(const char* name, const HostValue& value) {
  if (stopping() || name == nullptr) return;
  std::shared_ptr<const EventDelivery> handler;
  {
    std::shared_lock lock(events_mutex_);
    auto found = event_handlers_.find(std::string_view(name));
    if (found == event_handlers_.end()) return;
    handler = found->second;
  }
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

void PluginHostBridge::DispatchResourceEvent(const PluginResourceEvent& event) {
  std::string path = event.uri;
  if (!path.starts_with('/')) path.insert(path.begin(), '/');
  std::vector<std::shared_ptr<const ResourceObserver>> observers;
  {
    std::shared_lock lock(events_mutex_);
    auto exact = exact_observers_.find(path);
    if (exact != exact_observers_.end()) observers.push_back(exact->second);
    for (const auto& [pattern, observer] : wildcard_observers_) {
      if (MatchesResourcePattern(pattern, path)) observers.push_back(observer);
    }
  }
  for (const auto& observer : observers) (*observer)(event);
}

void PluginHostBridge::ObserveResource(std::string path, ResourceObserver observer) {
  auto shared = std::make_shared<const ResourceObserver>(std::move(observer));
  const bool wildcard = path.find('*') != std::string::npos;
  {
    std::unique_lock lock(events_mutex_);
    if (wildcard) {
      wildcard_observers_.emplace_back(path, shared);
    } else {
      exact_observers_[path] = shared;
    }
  }
  subscribe(path);
  if (wildcard) return;
  Vorn::RemotingTypedResult<binding::BindingValue> initial =
      TypedCall<binding::BindingValue>(kHostMethodGet, path);
  if (!initial.ok()) return;
  PluginResourceEvent event;
  event.uri = path;
  event.eventType = PluginResourceEventType::kCreate;
  event.data = std::move(initial).value();
  (*shared)(event);
}

// ---- Delayed callbacks ------------------------------------------------------------------------

std::uint64_t PluginHostBridge::ScheduleDelayed(std::string_view label, std::int64_t deadline_ns,
                                                DelayedFunction function) {
  std::uint64_t id;
  std::uintptr_t ticket;
  {
    std::lock_guard<std::mutex> lock(delayed_->mutex);
    id = delayed_->next_id++;
    ticket = IssueTicket(delayed_, id);
    delayed_->entries.emplace(id, DelayedTable::Entry{ticket, std::move(function)});
  }
  const std::int64_t remaining = deadline_ns - Now();
  const double delay_seconds = remaining > 0 ? static_cast<double>(remaining) * 1e-9 : 0.0;
  const std::string label_text(label);
  scheduleCallback(label_text.c_str(), &RunDelayedEntry, reinterpret_cast<void*>(ticket),
                   delay_seconds, 0);
  return id;
}

std::size_t PluginHostBridge::PendingDelayedCount() const {
  std::lock_guard<std::mutex> lock(delayed_->mutex);
  return delayed_->entries.size();
}

void PluginHostBridge::RunDelayedEntry(void* context) {
  try {
    auto [table, id] = RedeemTicket(reinterpret_cast<std::uintptr_t>(context));
    if (table != nullptr) table->Run(id);
  } catch (...) {
    logging::Log(logging::kError, logging::kGroupDbg, "delayed callback: unexpected exception");
  }
}

// ---- Service proxy ----------------------------------------------------------------------------

void PluginHostBridge::RegisterServiceProxyHandlers() {
  RegisterEventHandler<PluginServiceProxyResponse>(
      std::string(kServiceProxyUuidEventName), [this](const PluginServiceProxyResponse& response) {
        QueueServiceProxyResponse(response.uuid, response);
      });
  RegisterEventHandler<PluginServiceProxyResponse>(
      std::string(kServiceProxyMethodEventName),
      [this](const PluginServiceProxyResponse& response) {
        QueueServiceProxyResponse(response.serviceName + "." + response.methodName, response);
      });
  RegisterEventHandler<PluginServiceProxyResponse>(
      std::string(kServiceProxyAsyncEventName),
      [this](const PluginServiceProxyResponse& response) { HandleServiceProxyAsync(response); });
  for (std::string_view name :
       {kServiceProxyUuidEventName, kServiceProxyMethodEventName, kServiceProxyAsyncEventName}) {
    std::string owned(name);
    {
      std::unique_lock lock(events_mutex_);
      host_subscriptions_.push_back(owned);
    }
    SubscribeAtHost(owned, kServiceProxySubscriptionFlag);
  }
}

void PluginHostBridge::QueueServiceProxyResponse(std::string key,
                                                 const PluginServiceProxyResponse& response) {
  {
    std::lock_guard<std::mutex> lock(pending_work_mutex_);
    queued_responses_.emplace_back(std::move(key), response);
  }
  FulfilServiceProxyRequest();
}

void PluginHostBridge::AwaitServiceProxyResponse(std::string key, ServiceProxyHandler handler) {
  {
    std::lock_guard<std::mutex> lock(pending_work_mutex_);
    waiting_requests_[std::move(key)] = std::move(handler);
  }
  FulfilServiceProxyRequest();
}

void PluginHostBridge::FulfilServiceProxyRequest() {
  std::string key;
  ServiceProxyHandler handler;
  PluginServiceProxyResponse response;
  {
    std::lock_guard<std::mutex> lock(pending_work_mutex_);
    auto queued =
        std::find_if(queued_responses_.begin(), queued_responses_.end(),
                     [this](const auto& entry) { return waiting_requests_.contains(entry.first); });
    if (queued == queued_responses_.end()) return;
    auto waiting = waiting_requests_.find(queued->first);
    key = std::move(queued->first);
    response = std::move(queued->second);
    handler = std::move(waiting->second);
    waiting_requests_.erase(waiting);
    queued_responses_.erase(queued);
  }
  // Run outside the lock: completing a request may start the next one.
  if (handler) handler(response);
  logging::Log(logging::kAlways, logging::kGroupDbg, "%s: Fulfilled service proxy request: %s",
               short_name_.c_str(), key.c_str());
}

void PluginHostBridge::SetServiceProxyAsyncHandler(std::string key, ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> lock(pending_work_mutex_);
  async_handlers_[std::move(key)] = std::move(handler);
}

void PluginHostBridge::HandleServiceProxyAsync(const PluginServiceProxyResponse& response) {
  const std::string key = response.serviceName + "." + response.methodName;
  ServiceProxyHandler handler;
  {
    std::lock_guard<std::mutex> lock(pending_work_mutex_);
    auto found = async_handlers_.find(key);
    if (found != async_handlers_.end()) handler = found->second;
  }
  if (!handler) {
    logging::Log(logging::kError, logging::kGroupDbg,
                 "%s: Could not find registered handler for async service proxy event %s",
                 short_name_.c_str(), key.c_str());
    return;
  }
  handler(response);
}

// ---- Stop -------------------------------------------------------------------------------------

void PluginHostBridge::shutdown() {
  std::vector<std::string> names;
  {
    std::unique_lock lock(events_mutex_);
    names.swap(host_subscriptions_);
  }
  for (const std::string& name : names) {
    if (TraceEnabled()) {
      logging::Log(kTraceLevel, kTraceGroups, "%s: Unsubscribing to event: %s", short_name_.c_str(),
                   name.c_str());
    }
    unsubscribeEvent(name.c_str(), plugin_handle_);
  }
  {
    std::unique_lock lock(events_mutex_);
    event_handlers_.clear();
    subscription_counts_.clear();
    exact_observers_.clear();
    wildcard_observers_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(pending_work_mutex_);
    waiting_requests_.clear();
    queued_responses_.clear();
    async_handlers_.clear();
  }
  delayed_->Close();
}

}  // namespace plugin_runtime
