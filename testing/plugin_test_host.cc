#include "testing/plugin_test_host.h"

#include <atomic>
#include <cstdio>
#include <iterator>
#include <utility>

#include "gtest/gtest.h"

namespace ulix_testing {
namespace {

std::atomic<std::int64_t> test_clock_ns{0};

std::int64_t TestClock() { return test_clock_ns.load(); }

std::string MethodName(std::uint32_t method) {
  static constexpr const char* kNames[] = {"ANY",   "DELETE", "GET", "HEAD",  "OPTIONS",
                                           "PATCH", "POST",   "PUT", "CUSTOM"};
  return method < std::size(kNames) ? kNames[method] : std::to_string(method);
}

std::string Or(const char* text) { return text != nullptr ? text : ""; }

// A change event's value as FakeValue writes it: {"data":...,"eventType":"...","uri":"..."}.
// "<eventType> <uri>", and its data as JSON.
std::string ChangeLine(const std::string& json) {
  const auto member = [&json](const std::string& name) {
    const std::size_t begin = json.find("\"" + name + "\":\"") + name.size() + 4;
    return json.substr(begin, json.find('"', begin) - begin);
  };
  return member("eventType") + " " + member("uri");
}
std::string ChangeData(const std::string& json) {
  const std::size_t begin = json.find("{\"data\":") + 8;
  return json.substr(begin, json.rfind(",\"eventType\":") - begin);
}

// The transcript line of each kind of call, by its arguments; "" for none.
std::string Line(std::int32_t level, const char* message) {
  return "log " + std::to_string(level) + "|" + Or(message);
}
std::string Line(const HostEvent* event) {
  const std::string name = event != nullptr ? Or(event->name) : "";
  if (!name.starts_with("OnJsonApiEvent_")) return name == "OnJsonApiEvent" ? "" : "event " + name;
  const std::string json = FakeValue::FromHost(event->value).Json();
  return "change " + ChangeLine(json) + " " + ChangeData(json);
}
std::string Line(const char* name, std::uint32_t, HostEventCallback, void*, std::int32_t) {
  return "subscribe " + Or(name);
}
std::string Line(const char* label, HostDelayedCallback, void*, double delay, std::int32_t) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, " %.3f", delay);
  return "schedule " + Or(label) + seconds;
}
std::string Line(const HostHttpRequest* request, HostHttpResponse*) {
  if (request == nullptr) return "";
  std::string line = "http " + MethodName(request->method) + " " + Or(request->url);
  for (std::uint32_t i = 0; i < request->headerCount; ++i) {
    const std::string name = request->headers[i].name;
    if (name == "Cache-Control" || name == "Content-Type" || name == "user-agent") continue;
    line += " " + name + "=" + request->headers[i].value;
  }
  if (request->bodyLength == 0) return line;
  return line + " | " + std::string(static_cast<const char*>(request->body), request->bodyLength);
}
std::string Line(HostResponse*, const HostRequest* request) {
  if (request == nullptr) return "";
  std::string line = "resource " + MethodName(request->method) + " " + Or(request->path);
  for (std::uint32_t i = 0; i < request->namedValueCount; ++i) {
    line += " " + FakeValue::FromHost(request->namedValues[i].value).Json();
  }
  return line;
}

}  // namespace

PluginTestHost::PluginTestHost() {
  test_clock_ns.store(1'000'000'000'000);
  ScriptRegion(host_);
  SetInstallSettings(FakeValue::Object({{"install-identifier", FakeValue::Text("install-1")}}));
  service_.Answer(kDiscoveryUrl, {0, 200, DiscoveryBody()});
  service_.Answer(kRevokeUrl, {0, 200, "{}"});
  host_.SetResourceHandler([this](const HostRequest& request, HostResponse& response) {
    HandleResource(request, response);
  });

  table_ = {*host_.functions(), this};
  context_ = {&table_.functions, host_.context()->pluginHandle};
  HostFunctionTable& entries = table_.functions;
  entries.writeLog = &Noted<&HostFunctionTable::writeLog>;
  entries.sendEvent = &Noted<&HostFunctionTable::sendEvent>;
  entries.subscribeEvent = &Noted<&HostFunctionTable::subscribeEvent>;
  entries.scheduleCallback = &Noted<&HostFunctionTable::scheduleCallback>;
  entries.sendHttpRequest = &Noted<&HostFunctionTable::sendHttpRequest>;
  entries.callResource = &Noted<&HostFunctionTable::callResource>;
}

template <auto entry, typename... Args>
void PluginTestHost::Noted(const HostFunctionTable* self, Args... args) {
  PluginTestHost& test = *reinterpret_cast<const NotingTable*>(self)->owner;
  if (std::string line = Line(args...); !line.empty()) test.Note(line);
  (test.host_.functions()->*entry)(test.host_.functions(), args...);
}

void PluginTestHost::Note(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (noting_) transcript_.push_back(line);
}

void PluginTestHost::DetailTranscript() {
  std::lock_guard<std::mutex> lock(mutex_);
  noting_ = true;
}

std::vector<std::string> PluginTestHost::TakeTranscript() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(transcript_, {});
}

void PluginTestHost::SetCommandLine(std::vector<std::string> arguments) {
  std::vector<FakeValue> items;
  for (std::string& argument : arguments) items.push_back(FakeValue::Text(std::move(argument)));
  host_.ScriptResource("/vornclient/command-line-args", FakeValue::Array(std::move(items)));
}

void PluginTestHost::SetRegionSettings(std::optional<FakeValue> settings) {
  FakeHost::ResourceAnswer answer{404, "not found", {}, std::nullopt, false};
  if (settings) answer = {200, "", std::move(*settings), std::nullopt, false};
  host_.ScriptResource(kRegionSettingsPath, std::move(answer));
}

void PluginTestHost::SetInstallSettings(std::optional<FakeValue> settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  install_settings_ = std::move(settings);
}

void PluginTestHost::HandleResource(const HostRequest& request, HostResponse& response) {
  response = HostResponse{};
  std::lock_guard<std::mutex> lock(mutex_);
  const bool install = Or(request.path) == kInstallSettingsPath;
  if (install && request.method == kHostMethodGet && install_settings_) {
    response.value = install_settings_->Build(kept_values_.emplace_back());
    response.status = 200;
  } else if (install && request.method == kHostMethodPost && !install_write_refused_) {
    if (request.namedValueCount == 1) {
      install_settings_ = FakeValue::FromHost(request.namedValues[0].value);
    }
    response.status = 200;
  } else {
    response.errorText = "not found";
    response.errorFlag = 1;
    response.status = 404;
  }
}

void PluginTestHost::Start(bool apply) {
  plugin_ = new ulix_auth::ULIXAuthPlugin();
  block_ = HostInitBlock{};
  block_.major = 18;
  plugin_->handshake(&block_, ulix_auth::kShortName);
  plugin_->setMonotonicClock(&TestClock);
  chooser_ = std::make_unique<EndpointChooser>(*block_.catalogue);
  ASSERT_TRUE(block_.entryTable->start(block_.context, &context_));
  if (apply) {
    for (const FakeHost::ScheduledCallback& callback : host_.Scheduled()) {
      ASSERT_EQ(callback.label, "configure-auth-client");
    }
    host_.FireScheduled();
  }
}

void PluginTestHost::Stop() {
  if (plugin_ == nullptr) return;
  block_.entryTable->stop(block_.context);
  plugin_ = nullptr;
}

std::string PluginTestHost::Text(std::uint32_t method, const std::string& path,
                                 std::optional<std::string> json_body) {
  const CatalogueEndpoint* endpoint = chooser_->Choose(method, path);
  if (endpoint == nullptr) {
    ADD_FAILURE() << "no endpoint for " << path;
    return "";
  }
  TestRequest request;
  request.method = method;
  request.path = path;
  if (json_body) {
    request.content_type = "application/json";
    request.body = std::move(json_body);
  }
  DispatchedResponse response;
  Dispatch(*endpoint, request, response);
  if (!response.error().empty()) return std::to_string(response.status()) + " " + response.error();
  return FakeValue::FromHost(response.value()).Json();
}

std::string PluginTestHost::SignOn(FakeHost::HttpAnswer reply) {
  service_.AnswerOnce(kTokenUrl, std::move(reply));
  return Text(kHostMethodPost, "/ulix-auth/v1/authorization/gas", kSignOnBody);
}

std::size_t PluginTestHost::Advance(double seconds) {
  test_clock_ns.fetch_add(static_cast<std::int64_t>(seconds * 1e9));
  return host_.AdvanceClock(seconds);
}

std::vector<std::string> PluginTestHost::TakeChanges(std::vector<std::string>* data) {
  const std::vector<FakeHost::SentEvent> sent = host_.SentEvents();
  std::vector<std::string> changes;
  for (std::size_t i = events_seen_; i < sent.size(); i += 2) {
    const std::string json = sent[i].value.Json();
    if (i + 1 >= sent.size() || sent[i + 1].name != "OnJsonApiEvent" ||
        sent[i + 1].value.Json() != json || !sent[i].name.starts_with("OnJsonApiEvent_")) {
      ADD_FAILURE() << "change not sent under both names: " << json;
      break;
    }
    changes.push_back(ChangeLine(json));
    if (data != nullptr) data->push_back(ChangeData(json));
  }
  events_seen_ = sent.size();
  return changes;
}

}  // namespace ulix_testing
