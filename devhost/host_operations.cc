#include "devhost/host_operations.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <unordered_map>

#include "devhost/curl_transport.h"
#include "devhost/host_value_json.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "wire/resource_event_name.h"

namespace devhost {
namespace {

constexpr std::string_view kCommandLinePath = "/vornclient/command-line-args";
constexpr std::string_view kRegionPath = "/vornclient/region-locale";
constexpr std::string_view kDataStorePrefix = "/data-store/v1/";
constexpr std::string_view kInstallSettingsPrefix = "/data-store/v1/install-settings/";
constexpr std::string_view kTelemetryPrefix = "/telemetry/v1/";
constexpr std::string_view kPluginManagerPath = "/plugin-manager/v1/status";

// What a response handed to the plug-in holds until the plug-in gives it back. Release
// functions get nothing but the record's address, so the records are found by address.
struct HeldResponse {
  OwnedHostValue value;
  std::string error;
  std::vector<std::string> texts;
  std::vector<HostHeaderPair> headers;
};

std::mutex& HeldMutex() {
  static std::mutex mutex;
  return mutex;
}
std::unordered_map<const void*, std::unique_ptr<HeldResponse>>& Held() {
  static std::unordered_map<const void*, std::unique_ptr<HeldResponse>> held;
  return held;
}

HeldResponse& Hold(const void* record) {
  auto held = std::make_unique<HeldResponse>();
  HeldResponse& kept = *held;
  std::lock_guard<std::mutex> lock(HeldMutex());
  Held()[record] = std::move(held);
  return kept;
}

void Forget(const void* record) {
  std::unique_ptr<HeldResponse> held;
  {
    std::lock_guard<std::mutex> lock(HeldMutex());
    auto found = Held().find(record);
    if (found == Held().end()) return;
    held = std::move(found->second);
    Held().erase(found);
  }
}

void ReleaseResponse(HostResponse* response) {
  Forget(response);
  response->release = nullptr;
}

void ReleaseHttpResponse(HostHttpResponse* response) {
  Forget(response);
  response->release = nullptr;
}

std::string MethodName(std::uint32_t method) { return HttpMethodName(method); }

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// The value a resource call carries: the first named value, by convention the one argument.
std::optional<HostValue> FirstArgument(const HostRequest& request) {
  if (request.namedValueCount == 0 || request.namedValues == nullptr) return std::nullopt;
  HostNamedValue named;
  std::memcpy(&named, &request.namedValues[0], sizeof named);
  return named.value;
}

}  // namespace

HostOperations::HostOperations(HostSettings settings, DataStore& store, EventHub& events,
                               TimerQueue& timers, HostLog& log)
    : settings_(std::move(settings)),
      store_(store),
      events_(events),
      timers_(timers),
      log_(log),
      table_{HostFunctionTable{&CallResource, &SendHttpRequest, &SendEvent, &SubscribeEvent,
                               &UnsubscribeEvent, &ScheduleCallback, &YieldWait, &SetWaitReason,
                               &FinishWait, &WriteLog},
             this} {}

HostOperations& HostOperations::From(const HostFunctionTable* table) {
  // The function table is the first member of Table, so its address is the Table's.
  return *reinterpret_cast<const Table*>(table)->owner;
}

std::size_t HostOperations::OutstandingResponses() {
  std::lock_guard<std::mutex> lock(HeldMutex());
  return Held().size();
}

void HostOperations::PublishPluginManagerState(bool initialized) {
  plugins_initialized_ = initialized;
  PublishResourceEvent(
      kPluginManagerPath, "Update",
      initialized ? R"({"state":"PluginsInitialized"})" : R"({"state":"NotReady"})");
}

void HostOperations::PublishResourceEvent(std::string_view path, std::string_view event_type,
                                          std::string_view data_json) {
  const std::string json = "{\"uri\":" + JsonQuote(path) +
                           ",\"eventType\":" + JsonQuote(event_type) +
                           ",\"data\":" + std::string(data_json) + "}";
  std::string error;
  std::optional<OwnedHostValue> value = OwnedHostValue::ParseJson(json, error);
  if (!value) {
    log_.Host("cannot publish " + std::string(path) + ": " + error);
    return;
  }
  events_.Publish(wire::ResourceEventName(path), value->record());
  events_.Publish("OnJsonApiEvent", value->record());
}

// ---- Resources ------------------------------------------------------------------------------

void HostOperations::CallResource(const HostFunctionTable* self, HostResponse* response,
                                  const HostRequest* request) {
  HostOperations& host = From(self);
  try {
    HostRequest copy;
    std::memcpy(&copy, request, sizeof copy);
    host.AnswerResource(copy, *response);
  } catch (const std::exception& failure) {
    // Never let an exception unwind into the plug-in.
    HeldResponse& held = Hold(response);
    held.error = std::string("Host failure: ") + failure.what();
    response->errorText = held.error.c_str();
    response->errorFlag = 1;
    response->status = 500;
    response->release = &ReleaseResponse;
  }
}

void HostOperations::AnswerResource(const HostRequest& request, HostResponse& response) {
  const std::string path = request.path != nullptr ? request.path : "";
  const std::uint32_t method = request.method;
  HeldResponse& held = Hold(&response);
  response.release = &ReleaseResponse;
  auto fail = [&](std::uint32_t status, std::string message) {
    held.error = std::move(message);
    response.errorText = held.error.c_str();
    response.errorFlag = 1;
    response.status = status;
  };
  auto succeed = [&](OwnedHostValue value) {
    held.value = std::move(value);
    response.value = held.value.record();
    response.format = kHostFormatJson;
    response.status = 200;
  };

  if (path == kCommandLinePath && method == kHostMethodGet) {
    succeed(OwnedHostValue::TextList(settings_.plugin_arguments));
  } else if (path == kRegionPath && method == kHostMethodGet) {
    if (!settings_.region) return fail(404, "No region is set; start the host with --region.");
    succeed(OwnedHostValue::TextObject({{"region", *settings_.region}, {"locale", "en_US"}}));
  } else if (path == kPluginManagerPath && method == kHostMethodGet) {
    succeed(OwnedHostValue::TextObject(
        {{"state", plugins_initialized_ ? "PluginsInitialized" : "NotReady"}}));
  } else if (path.starts_with(kDataStorePrefix)) {
    if (method == kHostMethodGet) {
      std::optional<std::string> json = store_.Get(path);
      // Every plug-in has install settings, empty until it writes some.
      if (!json && path.starts_with(kInstallSettingsPrefix)) json = "{}";
      if (!json) return fail(404, "Nothing is stored at " + path + ".");
      std::string error;
      std::optional<OwnedHostValue> value = OwnedHostValue::ParseJson(*json, error);
      if (!value) return fail(500, "The document at " + path + " is damaged: " + error);
      succeed(std::move(*value));
    } else if (method == kHostMethodPost || method == kHostMethodPut) {
      std::optional<HostValue> argument = FirstArgument(request);
      if (!argument) return fail(400, "Nothing to store at " + path + ".");
      std::string error;
      if (!store_.Put(path, HostValueToJson(*argument), error)) {
        return fail(500, "Cannot store " + path + ": " + error);
      }
      succeed(OwnedHostValue());
    } else if (method == kHostMethodDelete) {
      if (!store_.Remove(path)) return fail(404, "Nothing is stored at " + path + ".");
      succeed(OwnedHostValue());
    } else {
      fail(405, "The data store takes GET, POST, PUT and DELETE.");
    }
  } else if (path.starts_with(kTelemetryPrefix) && method == kHostMethodPost) {
    std::optional<HostValue> argument = FirstArgument(request);
    AppendTelemetry(path, argument ? HostValueToJson(*argument) : "null");
    succeed(OwnedHostValue());
  } else {
    fail(404, "No resource " + MethodName(method) + " " + path + " in this host.");
  }
}

void HostOperations::AppendTelemetry(std::string_view path, std::string_view json) {
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  std::string line = "{\"time\":" + std::to_string(millis) + ",\"path\":" + JsonQuote(path) +
                     ",\"value\":" + std::string(json) + "}\n";
  std::lock_guard<std::mutex> lock(telemetry_mutex_);
  if (settings_.telemetry_file.empty()) return;
  std::FILE* file = std::fopen(settings_.telemetry_file.c_str(), "a");
  if (file == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

// ---- HTTP -----------------------------------------------------------------------------------

void HostOperations::SendHttpRequest(const HostFunctionTable* self, const HostHttpRequest* request,
                                     HostHttpResponse* response) {
  try {
    const auto started = std::chrono::steady_clock::now();
    HttpExchange exchange = SendWithCurl(*request);
    if (ExchangeLog* exchanges = From(self).settings_.exchanges) {
      exchanges->Record(*request, exchange, std::chrono::steady_clock::now() - started);
    }
    HeldResponse& held = Hold(response);
    HostHttpResponse answer{};
    answer.release = &ReleaseHttpResponse;
    if (!exchange.delivered) {
      held.texts.push_back(std::move(exchange.error));
      answer.transportResult = 1;
      answer.body = held.texts.back().data();
      answer.bodyLength = static_cast<std::uint32_t>(held.texts.back().size());
    } else {
      held.texts.reserve(exchange.headers.size() * 2 + 1);
      for (auto& [name, value] : exchange.headers) {
        held.texts.push_back(std::move(name));
        held.texts.push_back(std::move(value));
      }
      for (std::size_t i = 0; i + 1 < held.texts.size(); i += 2) {
        held.headers.push_back({held.texts[i].c_str(), held.texts[i + 1].c_str()});
      }
      held.texts.push_back(std::move(exchange.body));
      answer.status = exchange.status;
      answer.headers = held.headers.empty() ? nullptr : held.headers.data();
      answer.headerCount = static_cast<std::uint32_t>(held.headers.size());
      answer.body = held.texts.back().data();
      answer.bodyLength = static_cast<std::uint32_t>(held.texts.back().size());
    }
    std::memcpy(response, &answer, sizeof answer);
  } catch (const std::exception& failure) {
    From(self).log_.Host(std::string("HTTP request failed inside the host: ") + failure.what());
    std::memset(response, 0, sizeof *response);
    response->transportResult = 1;
  }
}

// ---- Events, callbacks, waits, log ----------------------------------------------------------

void HostOperations::SendEvent(const HostFunctionTable* self, const HostEvent* event) {
  HostEvent copy;
  std::memcpy(&copy, event, sizeof copy);
  try {
    From(self).events_.Publish(copy.name != nullptr ? copy.name : "", copy.value);
  } catch (const std::exception& failure) {
    From(self).log_.Host(std::string("event delivery failed: ") + failure.what());
  }
}

void HostOperations::SubscribeEvent(const HostFunctionTable* self, const char* name,
                                    std::uint32_t plugin_handle, HostEventCallback callback,
                                    void* context, std::int32_t) {
  if (name == nullptr || callback == nullptr) return;
  From(self).events_.Subscribe(name, plugin_handle, callback, context);
}

void HostOperations::UnsubscribeEvent(const HostFunctionTable* self, const char* name,
                                      std::uint32_t plugin_handle) {
  if (name == nullptr) return;
  From(self).events_.Unsubscribe(name, plugin_handle);
}

void HostOperations::ScheduleCallback(const HostFunctionTable* self, const char* label,
                                      HostDelayedCallback callback, void* context,
                                      double delay_seconds, std::int32_t) {
  if (callback == nullptr) return;
  HostOperations& host = From(self);
  const char* name = label != nullptr ? label : "";
  host.timers_.Schedule(name, delay_seconds, [callback, context] { callback(context); });
  host.AnnounceTimer(name, delay_seconds);
}

// Tells the /events listeners (the console shows the next refresh) what the plug-in asked for:
// {"label", "delaySeconds", "dueAt": milliseconds since 1970 on the wall clock}.
void HostOperations::AnnounceTimer(std::string_view label, double delay_seconds) {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const double delay = delay_seconds > 0 ? delay_seconds : 0;
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("label");
  writer.String(label.data(), static_cast<rapidjson::SizeType>(label.size()));
  writer.Key("delaySeconds");
  writer.Double(delay);
  writer.Key("dueAt");
  writer.Int64(now.count() + static_cast<std::int64_t>(delay * 1000.0));
  writer.EndObject();
  events_.Announce(kTimerEventName, std::string_view(buffer.GetString(), buffer.GetSize()));
}

void HostOperations::YieldWait(const HostFunctionTable*) { std::this_thread::yield(); }

void HostOperations::SetWaitReason(const HostFunctionTable*, const char*, std::int32_t) {}

void HostOperations::FinishWait(const HostFunctionTable*) {}

void HostOperations::WriteLog(const HostFunctionTable* self, std::int32_t level,
                              const char* message) {
  From(self).log_.Write(level, message != nullptr ? message : "");
}

}  // namespace devhost
