#include "testing/fake_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ulix_testing {
namespace {

// HTTP responses carry no context, so the release function finds the host that filled one
// through this table (tests may run several fake hosts at once).
std::mutex& HttpOwnersMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<const HostHttpResponse*, FakeHost*>& HttpOwners() {
  static std::map<const HostHttpResponse*, FakeHost*> owners;
  return owners;
}

}  // namespace

// ---- FakeValue ----------------------------------------------------------------------------------

FakeValue FakeValue::Bool(bool value) {
  FakeValue v;
  v.kind_ = kHostValueBool;
  v.unsigned_ = value ? 1 : 0;
  return v;
}

FakeValue FakeValue::Signed(std::int64_t value) {
  FakeValue v;
  v.kind_ = kHostValueSigned;
  v.signed_ = value;
  return v;
}

FakeValue FakeValue::Unsigned(std::uint64_t value) {
  FakeValue v;
  v.kind_ = kHostValueUnsigned;
  v.unsigned_ = value;
  return v;
}

FakeValue FakeValue::Double(double value) {
  FakeValue v;
  v.kind_ = kHostValueDouble;
  v.double_ = value;
  return v;
}

FakeValue FakeValue::Text(std::string text) {
  FakeValue v;
  v.kind_ = kHostValueText;
  v.text_ = std::move(text);
  return v;
}

FakeValue FakeValue::Bytes(std::string bytes) {
  FakeValue v;
  v.kind_ = kHostValueBytes;
  v.text_ = std::move(bytes);
  return v;
}

FakeValue FakeValue::Array(std::vector<FakeValue> items) {
  FakeValue v;
  v.kind_ = kHostValueArray;
  v.items_ = std::move(items);
  return v;
}

FakeValue FakeValue::Object(std::vector<std::pair<std::string, FakeValue>> entries) {
  FakeValue v;
  v.kind_ = kHostValueObject;
  v.entries_ = std::move(entries);
  return v;
}

FakeValue FakeValue::FromHost(const HostValue& record) {
  // Packed records: members are read through copies.
  HostValue copy;
  std::memcpy(&copy, &record, sizeof copy);
  switch (copy.kind) {
    case kHostValueBool:
      return Bool(copy.payload.boolean != 0);
    case kHostValueSigned:
      return Signed(copy.payload.int64);
    case kHostValueUnsigned:
      return Unsigned(copy.payload.uint64);
    case kHostValueDouble:
      return Double(copy.payload.float64);
    case kHostValueText:
    case kHostValueOwnedText:
      return Text(copy.payload.text.data != nullptr ? copy.payload.text.data : "");
    case kHostValueBytes:
    case kHostValueOwnedBytes: {
      const auto* data = reinterpret_cast<const char*>(copy.payload.bytes.data);
      return Bytes(data != nullptr ? std::string(data, copy.payload.bytes.length) : "");
    }
    case kHostValueArray: {
      std::vector<FakeValue> items;
      for (std::uint32_t i = 0; i < copy.payload.array.count; ++i) {
        items.push_back(FromHost(copy.payload.array.items[i]));
      }
      return Array(std::move(items));
    }
    case kHostValueObject: {
      std::vector<std::pair<std::string, FakeValue>> entries;
      for (std::uint32_t i = 0; i < copy.payload.object.count; ++i) {
        HostObjectEntry entry;
        std::memcpy(&entry, &copy.payload.object.entries[i], sizeof entry);
        entries.emplace_back(entry.key != nullptr ? entry.key : "", FromHost(entry.value));
      }
      return Object(std::move(entries));
    }
    default: {
      FakeValue v;
      v.kind_ = copy.kind;
      return v;
    }
  }
}

std::string FakeValue::Json() const {
  auto quoted = [](const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  };
  switch (kind_) {
    case kHostValueBool:
      return unsigned_ != 0 ? "true" : "false";
    case kHostValueSigned:
      return std::to_string(signed_);
    case kHostValueUnsigned:
      return std::to_string(unsigned_);
    case kHostValueDouble: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", double_);
      return buffer;
    }
    case kHostValueText:
      return quoted(text_);
    case kHostValueBytes:
      return "\"<" + std::to_string(text_.size()) + " bytes>\"";
    case kHostValueArray: {
      std::string out = "[";
      for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i != 0) out += ',';
        out += items_[i].Json();
      }
      return out + "]";
    }
    case kHostValueObject: {
      std::string out = "{";
      for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i != 0) out += ',';
        out += quoted(entries_[i].first) + ":" + entries_[i].second.Json();
      }
      return out + "}";
    }
    default:
      return kind_ == kHostValueNone ? "null" : "<kind " + std::to_string(kind_) + ">";
  }
}

HostValue FakeValue::Build(Storage& storage) const {
  HostValue record{};
  record.kind = kind_;
  switch (kind_) {
    case kHostValueBool:
      record.payload.boolean = static_cast<std::uint8_t>(unsigned_);
      break;
    case kHostValueSigned:
      record.payload.int64 = signed_;
      break;
    case kHostValueUnsigned:
      record.payload.uint64 = unsigned_;
      break;
    case kHostValueDouble:
      record.payload.float64 = double_;
      break;
    case kHostValueText:
      record.payload.text.data = storage.Keep(text_);
      record.payload.text.length = static_cast<std::uint32_t>(text_.size());
      break;
    case kHostValueBytes:
      record.payload.bytes.data = reinterpret_cast<const std::uint8_t*>(storage.Keep(text_));
      record.payload.bytes.length = static_cast<std::uint32_t>(text_.size());
      break;
    case kHostValueArray: {
      HostValue* items = storage.Values(items_.size());
      for (std::size_t i = 0; i < items_.size(); ++i) {
        HostValue item = items_[i].Build(storage);
        std::memcpy(&items[i], &item, sizeof item);
      }
      record.payload.array.items = items;
      record.payload.array.count = static_cast<std::uint32_t>(items_.size());
      break;
    }
    case kHostValueObject: {
      HostObjectEntry* entries = storage.Entries(entries_.size());
      for (std::size_t i = 0; i < entries_.size(); ++i) {
        HostObjectEntry entry{};
        entry.key = storage.Keep(entries_[i].first);
        entry.value = entries_[i].second.Build(storage);
        entry.present = 1;
        std::memcpy(&entries[i], &entry, sizeof entry);
      }
      record.payload.object.entries = entries;
      record.payload.object.count = static_cast<std::uint32_t>(entries_.size());
      break;
    }
    default:
      break;
  }
  return record;
}

const char* FakeValue::Storage::Keep(std::string text) {
  texts_.push_back(std::move(text));
  return texts_.back().c_str();
}

HostValue* FakeValue::Storage::Values(std::size_t count) {
  values_.emplace_back(std::max<std::size_t>(count, 1));
  return values_.back().data();
}

HostObjectEntry* FakeValue::Storage::Entries(std::size_t count) {
  entries_.emplace_back(std::max<std::size_t>(count, 1));
  return entries_.back().data();
}

// ---- FakeHost -----------------------------------------------------------------------------------

// What a scripted resource response holds until the plug-in releases it.
struct FakeHost::HeldResponse {
  FakeHost* host;
  FakeValue::Storage storage;
  std::string error;
  std::vector<std::string> pieces;
  std::size_t next_piece = 0;
  std::size_t piece_offset = 0;
  bool stream_fails = false;
};

struct FakeHost::HeldHttpResponse {
  FakeHost* host;
  std::vector<HostHeaderPair> headers;
  std::vector<std::string> texts;
  std::string body;
};

FakeHost::FakeHost(std::uint32_t plugin_handle)
    : table_{HostFunctionTable{&CallResource, &SendHttpRequest, &SendEvent, &SubscribeEvent,
                               &UnsubscribeEvent, &ScheduleCallback, &YieldWait, &SetWaitReason,
                               &FinishWait, &WriteLog},
             this},
      context_{&table_.functions, plugin_handle} {}

FakeHost::~FakeHost() {
  std::lock_guard<std::mutex> lock(HttpOwnersMutex());
  std::erase_if(HttpOwners(), [this](const auto& owner) { return owner.second == this; });
}

FakeHost& FakeHost::From(const HostFunctionTable* table) {
  // The function table is the first member of Table, so its address is the Table's.
  return *reinterpret_cast<const Table*>(table)->owner;
}

void FakeHost::CallResource(const HostFunctionTable* self, HostResponse* response,
                            const HostRequest* request) {
  FakeHost& host = From(self);
  ResourceHandler handler;
  std::optional<ResourceAnswer> script;
  {
    std::lock_guard<std::mutex> lock(host.mutex_);
    ResourceCall call{
        request->method, request->path != nullptr ? request->path : "", {}, request->callerContext};
    for (std::uint32_t i = 0; i < request->namedValueCount; ++i) {
      HostNamedValue named;
      std::memcpy(&named, &request->namedValues[i], sizeof named);
      call.arguments.emplace_back(named.name != nullptr ? named.name : "",
                                  FakeValue::FromHost(named.value));
    }
    auto found = host.resource_scripts_.find(call.path);
    if (found != host.resource_scripts_.end()) script = found->second;
    host.resource_calls_.push_back(std::move(call));
    handler = host.resource_handler_;
  }
  if (script) {
    host.Answer(*script, *response);
  } else if (handler) {
    handler(*request, *response);
  } else {
    host.Answer(ResourceAnswer{404, "Not found", {}, std::nullopt, false}, *response);
  }
}

void FakeHost::Answer(const ResourceAnswer& answer, HostResponse& response) {
  auto held = std::make_unique<HeldResponse>();
  held->host = this;
  response.status = answer.status;
  if (!answer.error.empty()) {
    held->error = answer.error;
    response.errorText = held->error.c_str();
    response.errorFlag = 1;
  } else if (answer.stream) {
    held->pieces = *answer.stream;
    held->stream_fails = answer.stream_fails;
    std::uint64_t size = 0;
    for (const std::string& piece : held->pieces) size += piece.size();
    response.read = &ReadStream;
    response.close = &CloseStream;
    response.streamSize = size;
  } else {
    response.value = answer.value.Build(held->storage);
    response.format = kHostFormatJson;
  }
  // The stream context doubles as the way back to what the response holds: the plug-in reads
  // it only when a read function is set.
  response.streamContext = held.get();
  response.release = &ReleaseResponse;
  std::lock_guard<std::mutex> lock(mutex_);
  HeldResponse* key = held.get();
  held_responses_[key] = std::move(held);
}

void FakeHost::ReleaseResponse(HostResponse* response) {
  auto* held = static_cast<HeldResponse*>(response->streamContext);
  FakeHost* host = held->host;
  std::lock_guard<std::mutex> lock(host->mutex_);
  host->held_responses_.erase(held);
  ++host->released_responses_;
}

std::uint8_t FakeHost::ReadStream(void* context, char* buffer, std::uint32_t* length,
                                  std::uint8_t* more_data) {
  auto* held = static_cast<HeldResponse*>(context);
  if (held->next_piece >= held->pieces.size()) {
    *length = 0;
    *more_data = 0;
    return held->stream_fails ? 0 : 1;
  }
  const std::string& piece = held->pieces[held->next_piece];
  const std::size_t count = std::min<std::size_t>(*length, piece.size() - held->piece_offset);
  if (count != 0) std::memcpy(buffer, piece.data() + held->piece_offset, count);
  held->piece_offset += count;
  if (held->piece_offset >= piece.size()) {
    ++held->next_piece;
    held->piece_offset = 0;
  }
  *length = static_cast<std::uint32_t>(count);
  // A failing stream announces more so that the plug-in asks once more and fails.
  *more_data = held->next_piece < held->pieces.size() || held->stream_fails ? 1 : 0;
  return 1;
}

void FakeHost::CloseStream(void* context) {
  auto* held = static_cast<HeldResponse*>(context);
  std::lock_guard<std::mutex> lock(held->host->mutex_);
  ++held->host->closed_streams_;
}

void FakeHost::SendHttpRequest(const HostFunctionTable* self, const HostHttpRequest* request,
                               HostHttpResponse* response) {
  FakeHost& host = From(self);
  HttpHandler handler;
  {
    std::lock_guard<std::mutex> lock(host.mutex_);
    HttpCall call{
        request->method, request->url != nullptr ? request->url : "", {}, {}, request->timeout,
        request->flag};
    for (std::uint32_t i = 0; i < request->headerCount; ++i) {
      HostHeaderPair pair = request->headers[i];
      call.headers.emplace_back(pair.name, pair.value);
    }
    const auto* body = static_cast<const char*>(request->body);
    if (body != nullptr) call.body.assign(body, request->bodyLength);
    host.http_calls_.push_back(std::move(call));
    handler = host.http_handler_;
  }
  if (handler) {
    handler(*request, *response);
  } else {
    static const char kNoRoute[] = "no route to host";
    response->transportResult = 1;
    response->body = kNoRoute;
    response->bodyLength = sizeof(kNoRoute) - 1;
  }
}

void FakeHost::HandOut(const HttpAnswer& answer, HostHttpResponse& response) {
  auto held = std::make_unique<HeldHttpResponse>();
  held->host = this;
  held->texts.reserve(answer.headers.size() * 2);
  for (const auto& [name, value] : answer.headers) {
    held->texts.push_back(name);
    held->texts.push_back(value);
  }
  for (std::size_t i = 0; i < held->texts.size(); i += 2) {
    held->headers.push_back({held->texts[i].c_str(), held->texts[i + 1].c_str()});
  }
  response.transportResult = answer.transport;
  response.status = answer.status;
  response.headers = answer.null_headers || held->headers.empty() ? nullptr : held->headers.data();
  response.headerCount = answer.null_headers ? 1 : static_cast<std::uint32_t>(held->headers.size());
  if (answer.body) {
    held->body = *answer.body;
    response.body = held->body.data();
    response.bodyLength = static_cast<std::uint32_t>(held->body.size());
  } else {
    response.body = nullptr;
    response.bodyLength = answer.null_body_length;
  }
  response.release = &ReleaseHttpResponse;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_http_[&response] = std::move(held);
  }
  std::lock_guard<std::mutex> lock(HttpOwnersMutex());
  HttpOwners()[&response] = this;
}

void FakeHost::ReleaseHttpResponse(HostHttpResponse* response) {
  FakeHost* host = nullptr;
  {
    std::lock_guard<std::mutex> lock(HttpOwnersMutex());
    auto found = HttpOwners().find(response);
    if (found == HttpOwners().end()) return;
    host = found->second;
    HttpOwners().erase(found);
  }
  std::lock_guard<std::mutex> lock(host->mutex_);
  host->held_http_.erase(response);
  ++host->released_http_responses_;
}

void FakeHost::SendEvent(const HostFunctionTable* self, const HostEvent* event) {
  FakeHost& host = From(self);
  const std::string name = event->name != nullptr ? event->name : "";
  std::vector<Subscription> receivers;
  {
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.sent_events_.push_back({name, FakeValue::FromHost(event->value)});
    for (const Subscription& subscription : host.active_subscriptions_) {
      if (subscription.name == name) receivers.push_back(subscription);
    }
  }
  // Deliver outside the lock: a handler may call the host again.
  for (const Subscription& receiver : receivers) {
    HostEventDelivery delivery{};
    delivery.name = name.c_str();
    delivery.value = event->value;
    delivery.context = receiver.context;
    receiver.callback(&delivery);
  }
}

void FakeHost::Deliver(const std::string& name, const FakeValue& value) {
  std::vector<Subscription> receivers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Subscription& subscription : active_subscriptions_) {
      if (subscription.name == name) receivers.push_back(subscription);
    }
  }
  FakeValue::Storage storage;
  const HostValue record = value.Build(storage);
  for (const Subscription& receiver : receivers) {
    HostEventDelivery delivery{};
    delivery.name = name.c_str();
    delivery.value = record;
    delivery.context = receiver.context;
    receiver.callback(&delivery);
  }
}

std::size_t FakeHost::ActiveSubscriptionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_subscriptions_.size();
}

void FakeHost::SubscribeEvent(const HostFunctionTable* self, const char* name,
                              std::uint32_t plugin_handle, HostEventCallback callback,
                              void* context, std::int32_t flag) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.subscriptions_.push_back({name, plugin_handle, callback, context, flag});
  host.active_subscriptions_.push_back({name, plugin_handle, callback, context, flag});
}

void FakeHost::UnsubscribeEvent(const HostFunctionTable* self, const char* name,
                                std::uint32_t plugin_handle) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.unsubscriptions_.push_back({name, plugin_handle});
  std::erase_if(host.active_subscriptions_, [&](const Subscription& subscription) {
    return subscription.name == name && subscription.plugin_handle == plugin_handle;
  });
}

void FakeHost::ScheduleCallback(const HostFunctionTable* self, const char* label,
                                HostDelayedCallback callback, void* context, double delay_seconds,
                                std::int32_t) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.scheduled_.push_back(
      {label ? label : "", callback, context, delay_seconds, host.now_seconds_ + delay_seconds});
}

void FakeHost::YieldWait(const HostFunctionTable* self) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  ++host.yield_count_;
}

void FakeHost::SetWaitReason(const HostFunctionTable* self, const char* text, std::int32_t) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.wait_reasons_.emplace_back(text ? text : "");
}

void FakeHost::FinishWait(const HostFunctionTable* self) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  ++host.finish_wait_count_;
}

void FakeHost::WriteLog(const HostFunctionTable* self, std::int32_t level, const char* message) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.log_lines_.push_back({level, message ? message : ""});
}

std::vector<FakeHost::LogLine> FakeHost::LogLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_lines_;
}

void FakeHost::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_lines_.clear();
}

void FakeHost::ClearRecords() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_lines_.clear();
  sent_events_.clear();
  unsubscriptions_.clear();
  resource_calls_.clear();
  http_calls_.clear();
  wait_reasons_.clear();
}

std::vector<FakeHost::Subscription> FakeHost::Subscriptions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subscriptions_;
}

std::vector<FakeHost::Unsubscription> FakeHost::Unsubscriptions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unsubscriptions_;
}

std::vector<std::string> FakeHost::SentEventNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  names.reserve(sent_events_.size());
  for (const SentEvent& event : sent_events_) names.push_back(event.name);
  return names;
}

std::vector<FakeHost::SentEvent> FakeHost::SentEvents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_events_;
}

std::vector<FakeHost::ScheduledCallback> FakeHost::Scheduled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return scheduled_;
}

std::size_t FakeHost::FireScheduled() {
  std::vector<ScheduledCallback> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    due.swap(scheduled_);
  }
  // Run outside the lock: a callback may schedule the next one.
  for (const ScheduledCallback& callback : due) callback.callback(callback.context);
  return due.size();
}

std::size_t FakeHost::AdvanceClock(double seconds) {
  double until;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now_seconds_ += seconds;
    until = now_seconds_;
  }
  std::size_t ran = 0;
  for (;;) {
    ScheduledCallback next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto earliest = std::min_element(scheduled_.begin(), scheduled_.end(),
                                       [](const ScheduledCallback& a, const ScheduledCallback& b) {
                                         return a.due_seconds < b.due_seconds;
                                       });
      if (earliest == scheduled_.end() || earliest->due_seconds > until) return ran;
      next = *earliest;
      scheduled_.erase(earliest);
    }
    next.callback(next.context);
    ++ran;
  }
}

double FakeHost::now_seconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_seconds_;
}

void FakeHost::SetResourceHandler(ResourceHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  resource_handler_ = std::move(handler);
}

void FakeHost::SetHttpHandler(HttpHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  http_handler_ = std::move(handler);
}

void FakeHost::ScriptResource(const std::string& path, ResourceAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  resource_scripts_[path] = std::move(answer);
}

std::vector<FakeHost::ResourceCall> FakeHost::ResourceCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resource_calls_;
}

int FakeHost::released_responses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return released_responses_;
}

int FakeHost::closed_streams() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_streams_;
}

void FakeHost::ScriptHttp(HttpAnswer answer) {
  SetHttpHandler(
      [this, answer = std::move(answer)](const HostHttpRequest&, HostHttpResponse& response) {
        HandOut(answer, response);
      });
}

std::vector<FakeHost::HttpCall> FakeHost::HttpCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return http_calls_;
}

int FakeHost::released_http_responses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return released_http_responses_;
}

std::size_t FakeHost::outstanding_http_responses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_http_.size();
}

int FakeHost::yield_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return yield_count_;
}

int FakeHost::finish_wait_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finish_wait_count_;
}

std::vector<std::string> FakeHost::WaitReasons() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wait_reasons_;
}

}  // namespace ulix_testing
