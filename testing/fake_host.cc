#include "testing/fake_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ulix_testing {

// ---- FakeValue ----------------------------------------------------------------------------------

FakeValue FakeValue::FromHost(const HostValue& record) {
  FakeValue v;
  // Packed records: members are read through copies.
  std::memcpy(&v.scalar_, &record, sizeof record);
  const HostValue copy = v.scalar_;
  switch (copy.kind) {
    case kHostValueText:
    case kHostValueOwnedText:
      return Text(copy.payload.text.data != nullptr ? copy.payload.text.data : "");
    case kHostValueBytes:
    case kHostValueOwnedBytes: {
      const auto* data = reinterpret_cast<const char*>(copy.payload.bytes.data);
      return Bytes(data != nullptr ? std::string(data, copy.payload.bytes.length) : "");
    }
    case kHostValueArray:
      for (std::uint32_t i = 0; i < copy.payload.array.count; ++i) {
        v.items_.push_back(FromHost(copy.payload.array.items[i]));
      }
      break;
    case kHostValueObject:
      for (std::uint32_t i = 0; i < copy.payload.object.count; ++i) {
        HostObjectEntry entry;
        std::memcpy(&entry, &copy.payload.object.entries[i], sizeof entry);
        v.entries_.emplace_back(entry.key != nullptr ? entry.key : "", FromHost(entry.value));
      }
      break;
  }
  return v;
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
  const HostValue scalar = scalar_;
  std::string out;
  switch (scalar.kind) {
    case kHostValueNone:
      return "null";
    case kHostValueBool:
      return scalar.payload.boolean != 0 ? "true" : "false";
    case kHostValueSigned:
      return std::to_string(scalar.payload.int64);
    case kHostValueUnsigned:
      return std::to_string(scalar.payload.uint64);
    case kHostValueDouble: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", scalar.payload.float64);
      return buffer;
    }
    case kHostValueText:
      return quoted(text_);
    case kHostValueBytes:
      return "\"<" + std::to_string(text_.size()) + " bytes>\"";
    case kHostValueArray:
      for (const FakeValue& item : items_) out += (out.empty() ? "" : ",") + item.Json();
      return "[" + out + "]";
    case kHostValueObject:
      for (const auto& [key, value] : entries_) {
        out += (out.empty() ? "" : ",") + quoted(key) + ":" + value.Json();
      }
      return "{" + out + "}";
    default:
      return "<kind " + std::to_string(scalar.kind) + ">";
  }
}

HostValue FakeValue::Build(Storage& storage) const {
  HostValue record = scalar_;
  const auto length = static_cast<std::uint32_t>(text_.size());
  switch (record.kind) {
    case kHostValueText:
      record.payload.text = {storage.texts.emplace_back(text_).c_str(), length};
      break;
    case kHostValueBytes:
      record.payload.bytes = {
          reinterpret_cast<const std::uint8_t*>(storage.texts.emplace_back(text_).data()), length};
      break;
    case kHostValueArray: {
      // One spare record, so that even an empty array points somewhere.
      std::vector<HostValue>& items = storage.values.emplace_back(items_.size() + 1);
      for (std::size_t i = 0; i < items_.size(); ++i) items[i] = items_[i].Build(storage);
      record.payload.array = {items.data(), static_cast<std::uint32_t>(items_.size())};
      break;
    }
    case kHostValueObject: {
      std::vector<HostObjectEntry>& entries = storage.entries.emplace_back(entries_.size() + 1);
      for (std::size_t i = 0; i < entries_.size(); ++i) {
        entries[i] = {storage.texts.emplace_back(entries_[i].first).c_str(),
                      entries_[i].second.Build(storage), 1};
      }
      record.payload.object = {entries.data(), static_cast<std::uint32_t>(entries_.size())};
      break;
    }
  }
  return record;
}

// ---- FakeHost -----------------------------------------------------------------------------------

namespace {

// What a scripted HTTP response holds until the plug-in releases it. HTTP responses carry no
// context, so the release function finds it, and the host that filled it, by the response's
// address (tests may run several fake hosts at once).
struct HeldHttpResponse {
  FakeHost* host;
  std::vector<HostHeaderPair> headers;
  std::deque<std::string> texts;
};
std::mutex held_http_mutex;
std::map<const HostHttpResponse*, HeldHttpResponse> held_http;

}  // namespace

// What a scripted resource response holds until the plug-in releases it.
struct FakeHost::HeldResponse {
  FakeHost* host;
  FakeValue::Storage storage;
  std::string error;
  std::vector<std::string> pieces;
  std::size_t next_piece = 0;
  std::size_t piece_offset = 0;
  bool stream_fails = false;

  static std::uint8_t Read(void* context, char* buffer, std::uint32_t* length,
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
};

FakeHost::FakeHost(std::uint32_t plugin_handle)
    : table_{{}, this}, context_{&table_.functions, plugin_handle} {
  // Each entry finds this host through the table's address.
  HostFunctionTable& f = table_.functions;
  f.callResource = [](const HostFunctionTable* self, HostResponse* response,
                      const HostRequest* request) { From(self).CallResource(*request, *response); };
  f.sendHttpRequest = [](const HostFunctionTable* self, const HostHttpRequest* request,
                         HostHttpResponse* response) { From(self).SendHttp(*request, *response); };
  f.sendEvent = [](const HostFunctionTable* self, const HostEvent* event) {
    FakeHost& host = From(self);
    const std::string name = event->name != nullptr ? event->name : "";
    host.Locked([&] { host.sent_events_.push_back({name, FakeValue::FromHost(event->value)}); });
    host.Notify(name, event->value);
  };
  f.subscribeEvent = [](const HostFunctionTable* self, const char* name, std::uint32_t handle,
                        HostEventCallback callback, void* context, std::int32_t flag) {
    FakeHost& host = From(self);
    host.Locked([&] {
      host.subscriptions_.push_back({name, handle, callback, context, flag});
      host.active_subscriptions_.push_back(host.subscriptions_.back());
    });
  };
  f.unsubscribeEvent = [](const HostFunctionTable* self, const char* name, std::uint32_t handle) {
    FakeHost& host = From(self);
    host.Locked([&] {
      host.unsubscriptions_.push_back({name, handle});
      std::erase_if(host.active_subscriptions_, [&](const Subscription& subscription) {
        return subscription.name == name && subscription.plugin_handle == handle;
      });
    });
  };
  f.scheduleCallback = [](const HostFunctionTable* self, const char* label,
                          HostDelayedCallback callback, void* context, double delay, std::int32_t) {
    FakeHost& host = From(self);
    host.Locked([&] {
      host.scheduled_.push_back(
          {label ? label : "", callback, context, delay, host.now_seconds_ + delay});
    });
  };
  f.yieldWait = [](const HostFunctionTable* self) { ++From(self).yield_count_; };
  f.setWaitReason = [](const HostFunctionTable* self, const char* text, std::int32_t) {
    FakeHost& host = From(self);
    host.Locked([&] { host.wait_reasons_.emplace_back(text ? text : ""); });
  };
  f.finishWait = [](const HostFunctionTable* self) { ++From(self).finish_wait_count_; };
  f.writeLog = [](const HostFunctionTable* self, std::int32_t level, const char* message) {
    FakeHost& host = From(self);
    host.Locked([&] { host.log_lines_.push_back({level, message ? message : ""}); });
  };
}

FakeHost::~FakeHost() {
  std::lock_guard<std::mutex> lock(held_http_mutex);
  std::erase_if(held_http, [this](const auto& held) { return held.second.host == this; });
}

FakeHost& FakeHost::From(const HostFunctionTable* table) {
  // The function table is the first member of Table, so its address is the Table's.
  return *reinterpret_cast<const Table*>(table)->owner;
}

void FakeHost::CallResource(const HostRequest& request, HostResponse& response) {
  ResourceHandler handler;
  std::optional<ResourceAnswer> script;
  Locked([&] {
    ResourceCall call{
        request.method, request.path != nullptr ? request.path : "", {}, request.callerContext};
    for (std::uint32_t i = 0; i < request.namedValueCount; ++i) {
      HostNamedValue named;
      std::memcpy(&named, &request.namedValues[i], sizeof named);
      call.arguments.emplace_back(named.name != nullptr ? named.name : "",
                                  FakeValue::FromHost(named.value));
    }
    auto found = resource_scripts_.find(call.path);
    if (found != resource_scripts_.end()) script = found->second;
    resource_calls_.push_back(std::move(call));
    handler = resource_handler_;
  });
  if (!script && handler) return handler(request, response);
  Answer(script.value_or(ResourceAnswer{404, "Not found", {}, {}, false}), response);
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
    response.read = &HeldResponse::Read;
    response.close = [](void* context) {
      ++static_cast<HeldResponse*>(context)->host->closed_streams_;
    };
    response.streamSize = 0;
    for (const std::string& piece : held->pieces) response.streamSize += piece.size();
  } else {
    response.value = answer.value.Build(held->storage);
    response.format = kHostFormatJson;
  }
  // The stream context doubles as the way back to what the response holds: the plug-in reads
  // it only when a read function is set.
  response.streamContext = held.get();
  response.release = [](HostResponse* response) {
    // Copied out first: the record is packed, so its fields may not be bound to a reference.
    void* const context = response->streamContext;
    FakeHost* host = static_cast<HeldResponse*>(context)->host;
    host->Locked([&] { host->held_responses_.erase(context); });
    ++host->released_responses_;
  };
  Locked([&] { held_responses_[held.get()] = std::move(held); });
}

void FakeHost::SendHttp(const HostHttpRequest& request, HostHttpResponse& response) {
  HttpHandler handler;
  Locked([&] {
    HttpCall call{
        request.method, request.url != nullptr ? request.url : "", {}, {}, request.timeout,
        request.flag};
    for (std::uint32_t i = 0; i < request.headerCount; ++i) {
      const HostHeaderPair pair = request.headers[i];
      call.headers.emplace_back(pair.name, pair.value);
    }
    const auto* body = static_cast<const char*>(request.body);
    if (body != nullptr) call.body.assign(body, request.bodyLength);
    http_calls_.push_back(std::move(call));
    handler = http_handler_;
  });
  if (handler) return handler(request, response);
  HandOut({1, 0, "no route to host"}, response);
}

void FakeHost::HandOut(const HttpAnswer& answer, HostHttpResponse& response) {
  std::lock_guard<std::mutex> lock(held_http_mutex);
  HeldHttpResponse& held = held_http[&response] = {this, {}, {}};
  for (const auto& [name, value] : answer.headers) {
    held.headers.push_back(
        {held.texts.emplace_back(name).c_str(), held.texts.emplace_back(value).c_str()});
  }
  response.transportResult = answer.transport;
  response.status = answer.status;
  response.headers = answer.null_headers || held.headers.empty() ? nullptr : held.headers.data();
  response.headerCount = answer.null_headers ? 1 : static_cast<std::uint32_t>(held.headers.size());
  response.body = answer.body ? held.texts.emplace_back(*answer.body).data() : nullptr;
  response.bodyLength =
      answer.body ? static_cast<std::uint32_t>(answer.body->size()) : answer.null_body_length;
  response.release = [](HostHttpResponse* response) {
    std::lock_guard<std::mutex> lock(held_http_mutex);
    auto found = held_http.find(response);
    if (found == held_http.end()) return;
    ++found->second.host->released_http_responses_;
    held_http.erase(found);
  };
}

std::size_t FakeHost::outstanding_http_responses() const {
  std::lock_guard<std::mutex> lock(held_http_mutex);
  return std::count_if(held_http.begin(), held_http.end(),
                       [this](const auto& held) { return held.second.host == this; });
}

void FakeHost::Notify(const std::string& name, const HostValue& value) {
  std::vector<Subscription> receivers;
  Locked([&] {
    for (const Subscription& subscription : active_subscriptions_) {
      if (subscription.name == name) receivers.push_back(subscription);
    }
  });
  for (const Subscription& receiver : receivers) {
    HostEventDelivery delivery{};
    delivery.name = name.c_str();
    delivery.value = value;
    delivery.context = receiver.context;
    receiver.callback(&delivery);
  }
}

void FakeHost::Deliver(const std::string& name, const FakeValue& value) {
  FakeValue::Storage storage;
  Notify(name, value.Build(storage));
}

void FakeHost::ClearRecords() {
  Locked([this] {
    log_lines_.clear();
    sent_events_.clear();
    unsubscriptions_.clear();
    resource_calls_.clear();
    http_calls_.clear();
    wait_reasons_.clear();
  });
}

std::size_t FakeHost::FireScheduled() {
  std::vector<ScheduledCallback> due;
  Locked([&] { due.swap(scheduled_); });
  // Run outside the lock: a callback may schedule the next one.
  for (const ScheduledCallback& callback : due) callback.callback(callback.context);
  return due.size();
}

std::size_t FakeHost::AdvanceClock(double seconds) {
  Locked([&] { now_seconds_ += seconds; });
  for (std::size_t ran = 0;; ++ran) {
    std::optional<ScheduledCallback> next;
    Locked([&] {
      // The earliest due, the first scheduled among equals.
      auto earliest = std::min_element(scheduled_.begin(), scheduled_.end(),
                                       [](const ScheduledCallback& a, const ScheduledCallback& b) {
                                         return a.due_seconds < b.due_seconds;
                                       });
      if (earliest == scheduled_.end() || earliest->due_seconds > now_seconds_) return;
      next = *earliest;
      scheduled_.erase(earliest);
    });
    if (!next) return ran;
    next->callback(next->context);
  }
}

void FakeHost::ScriptHttp(HttpAnswer answer) {
  SetHttpHandler(
      [this, answer = std::move(answer)](const HostHttpRequest&, HostHttpResponse& response) {
        HandOut(answer, response);
      });
}

}  // namespace ulix_testing
