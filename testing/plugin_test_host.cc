#include "testing/plugin_test_host.h"

#include <cstdio>
#include <iterator>
#include <map>
#include <utility>

#include "gtest/gtest.h"

namespace ulix_testing {
namespace {

std::atomic<std::int64_t> test_clock_ns{0};

// The test host that owns each table: the notes find their host through the table's address.
std::mutex noting_hosts_mutex;
std::map<const HostFunctionTable*, PluginTestHost*> noting_hosts;

FakeHost::ResourceAnswer Missing() {
  FakeHost::ResourceAnswer answer;
  answer.status = 404;
  answer.error = "not found";
  return answer;
}

std::int64_t TestClock() { return test_clock_ns.load(); }

std::string MethodName(std::uint32_t method) {
  static constexpr const char* kNames[] = {"ANY",   "DELETE", "GET", "HEAD",  "OPTIONS",
                                           "PATCH", "POST",   "PUT", "CUSTOM"};
  return method < std::size(kNames) ? kNames[method] : std::to_string(method);
}

// The text of `member` in a compact JSON object written by FakeValue, when it is a string.
std::string StringMember(const std::string& json, std::string_view member) {
  const std::string key = "\"" + std::string(member) + "\":\"";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const std::size_t begin = at + key.size();
  return json.substr(begin, json.find('"', begin) - begin);
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

  fake_entries_ = *host_.functions();
  HostFunctionTable* entries = host_.mutable_functions();
  entries->writeLog = &NoteLog;
  entries->sendEvent = &NoteEvent;
  entries->subscribeEvent = &NoteSubscribe;
  entries->scheduleCallback = &NoteSchedule;
  entries->sendHttpRequest = &NoteHttp;
  entries->callResource = &NoteResource;
  std::lock_guard<std::mutex> lock(noting_hosts_mutex);
  noting_hosts[host_.functions()] = this;
}

PluginTestHost::~PluginTestHost() {
  Stop();
  std::lock_guard<std::mutex> lock(noting_hosts_mutex);
  noting_hosts.erase(host_.functions());
}

PluginTestHost& PluginTestHost::From(const HostFunctionTable* self) {
  std::lock_guard<std::mutex> lock(noting_hosts_mutex);
  return *noting_hosts.at(self);
}

void PluginTestHost::Note(std::string line) {
  std::lock_guard<std::mutex> lock(transcript_mutex_);
  transcript_.push_back(std::move(line));
}

std::vector<std::string> PluginTestHost::TakeTranscript() {
  std::lock_guard<std::mutex> lock(transcript_mutex_);
  return std::exchange(transcript_, {});
}

void PluginTestHost::NoteLog(const HostFunctionTable* self, std::int32_t level,
                             const char* message) {
  PluginTestHost& test = From(self);
  test.Note("log " + std::to_string(level) + "|" + (message != nullptr ? message : ""));
  test.fake_entries_.writeLog(self, level, message);
}

void PluginTestHost::NoteEvent(const HostFunctionTable* self, const HostEvent* event) {
  PluginTestHost& test = From(self);
  const std::string name = event != nullptr && event->name != nullptr ? event->name : "";
  if (name.starts_with("OnJsonApiEvent_")) {
    const std::string json = FakeValue::FromHost(event->value).Json();
    std::string line =
        "change " + StringMember(json, "eventType") + " " + StringMember(json, "uri");
    if (test.detailed_) {
      const std::size_t begin = json.find("{\"data\":") + 8;
      line += " " + json.substr(begin, json.rfind(",\"eventType\":") - begin);
    }
    test.Note(std::move(line));
  } else if (name != "OnJsonApiEvent") {
    test.Note("event " + name);
  }
  test.fake_entries_.sendEvent(self, event);
}

void PluginTestHost::NoteSubscribe(const HostFunctionTable* self, const char* name,
                                   std::uint32_t plugin_handle, HostEventCallback callback,
                                   void* context, std::int32_t flag) {
  PluginTestHost& test = From(self);
  test.Note(std::string("subscribe ") + (name != nullptr ? name : ""));
  test.fake_entries_.subscribeEvent(self, name, plugin_handle, callback, context, flag);
}

void PluginTestHost::NoteSchedule(const HostFunctionTable* self, const char* label,
                                  HostDelayedCallback callback, void* context, double delay_seconds,
                                  std::int32_t zero) {
  PluginTestHost& test = From(self);
  std::string line = std::string("schedule ") + (label != nullptr ? label : "");
  if (test.detailed_) {
    char delay[32];
    std::snprintf(delay, sizeof delay, " %.3f", delay_seconds);
    line += delay;
  }
  test.Note(std::move(line));
  test.fake_entries_.scheduleCallback(self, label, callback, context, delay_seconds, zero);
}

void PluginTestHost::NoteHttp(const HostFunctionTable* self, const HostHttpRequest* request,
                              HostHttpResponse* response) {
  PluginTestHost& test = From(self);
  std::string line = "http ";
  if (test.detailed_ && request != nullptr) {
    line += MethodName(request->method) + " ";
  }
  line += request != nullptr && request->url != nullptr ? request->url : "";
  if (test.detailed_ && request != nullptr) {
    for (std::uint32_t i = 0; i < request->headerCount; ++i) {
      const std::string name = request->headers[i].name;
      if (name == "Cache-Control" || name == "Content-Type" || name == "user-agent") continue;
      line += " " + name + "=" + request->headers[i].value;
    }
    if (request->bodyLength != 0) {
      line += " | " + std::string(static_cast<const char*>(request->body), request->bodyLength);
    }
  }
  test.Note(std::move(line));
  test.fake_entries_.sendHttpRequest(self, request, response);
}

void PluginTestHost::NoteResource(const HostFunctionTable* self, HostResponse* response,
                                  const HostRequest* request) {
  PluginTestHost& test = From(self);
  std::string line = "resource ";
  if (test.detailed_ && request != nullptr) line += MethodName(request->method) + " ";
  line += request != nullptr && request->path != nullptr ? request->path : "";
  if (test.detailed_ && request != nullptr) {
    for (std::uint32_t i = 0; i < request->namedValueCount; ++i) {
      line += " " + FakeValue::FromHost(request->namedValues[i].value).Json();
    }
  }
  test.Note(std::move(line));
  test.fake_entries_.callResource(self, response, request);
}

void PluginTestHost::SetCommandLine(std::vector<std::string> arguments) {
  std::vector<FakeValue> items;
  for (std::string& argument : arguments) items.push_back(FakeValue::Text(std::move(argument)));
  host_.ScriptResource("/vornclient/command-line-args", FakeValue::Array(std::move(items)));
}

void PluginTestHost::SetRegionSettings(std::optional<FakeValue> settings) {
  if (settings) {
    host_.ScriptResource(kRegionSettingsPath, std::move(*settings));
  } else {
    host_.ScriptResource(kRegionSettingsPath, Missing());
  }
}

void PluginTestHost::SetInstallSettings(std::optional<FakeValue> settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  install_settings_ = std::move(settings);
}

void PluginTestHost::HandleResource(const HostRequest& request, HostResponse& response) {
  static constexpr const char* kNotFound = "not found";
  response = HostResponse{};
  std::lock_guard<std::mutex> lock(mutex_);
  const bool install =
      request.path != nullptr && std::string_view(request.path) == kInstallSettingsPath;
  if (install && request.method == kHostMethodGet && install_settings_) {
    response.value = install_settings_->Build(kept_values_.emplace_back());
    response.status = 200;
  } else if (install && request.method == kHostMethodPost && !install_write_refused_) {
    if (request.namedValueCount == 1) {
      install_settings_ = FakeValue::FromHost(request.namedValues[0].value);
    }
    response.status = 200;
  } else {
    response.errorText = kNotFound;
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
  ASSERT_TRUE(block_.entryTable->start(block_.context, host_.context()));
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

PluginTestHost::Reply PluginTestHost::Send(std::uint32_t method, const std::string& path,
                                           std::optional<std::string> json_body) {
  Reply reply;
  const CatalogueEndpoint* endpoint = chooser_->Choose(method, path);
  if (endpoint == nullptr) {
    ADD_FAILURE() << "no endpoint for " << path;
    return reply;
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
  reply.status = response.status();
  reply.error = response.error();
  reply.json = FakeValue::FromHost(response.value()).Json();
  return reply;
}

std::string PluginTestHost::Text(std::uint32_t method, const std::string& path,
                                 std::optional<std::string> json_body) {
  Reply reply = Send(method, path, std::move(json_body));
  if (!reply.error.empty()) return std::to_string(reply.status) + " " + reply.error;
  return reply.json;
}

PluginTestHost::Reply PluginTestHost::SignOn(FakeHost::HttpAnswer reply) {
  service_.AnswerOnce(kTokenUrl, std::move(reply));
  return Send(kHostMethodPost, "/ulix-auth/v1/authorization/gas", kSignOnBody);
}

std::size_t PluginTestHost::Advance(double seconds) {
  test_clock_ns.fetch_add(static_cast<std::int64_t>(seconds * 1e9));
  return host_.AdvanceClock(seconds);
}

std::vector<std::string> PluginTestHost::TakeEvents() {
  const std::vector<FakeHost::SentEvent> sent = host_.SentEvents();
  std::vector<std::string> lines;
  for (std::size_t i = events_seen_; i < sent.size(); ++i) {
    lines.push_back(sent[i].name + " " + sent[i].value.Json());
  }
  events_seen_ = sent.size();
  return lines;
}

std::vector<std::string> PluginTestHost::TakeChanges(std::vector<std::string>* data) {
  const std::vector<FakeHost::SentEvent> sent = host_.SentEvents();
  std::vector<std::string> changes;
  for (std::size_t i = events_seen_; i < sent.size(); i += 2) {
    const std::string json = sent[i].value.Json();
    const std::string uri = StringMember(json, "uri");
    if (i + 1 >= sent.size() || sent[i + 1].name != "OnJsonApiEvent" ||
        sent[i + 1].value.Json() != json || !sent[i].name.starts_with("OnJsonApiEvent_")) {
      ADD_FAILURE() << "change of " << uri << " not sent under both names";
      break;
    }
    changes.push_back(StringMember(json, "eventType") + " " + uri);
    if (data != nullptr) {
      const std::size_t begin = json.find("{\"data\":") + 8;
      const std::size_t end = json.rfind(",\"eventType\":");
      data->push_back(json.substr(begin, end - begin));
    }
  }
  events_seen_ = sent.size();
  return changes;
}

std::vector<std::string> PluginTestHost::TakeLog() {
  const std::vector<FakeHost::LogLine> log = host_.LogLines();
  std::vector<std::string> lines;
  for (std::size_t i = log_seen_; i < log.size(); ++i) {
    lines.push_back(std::to_string(log[i].level) + "|" + log[i].message);
  }
  log_seen_ = log.size();
  return lines;
}

std::string PluginTestHost::LoggedLine(std::string_view prefix) const {
  std::string found;
  for (const FakeHost::LogLine& line : host_.LogLines()) {
    if (line.message.starts_with(prefix)) found = line.message;
  }
  return found;
}

}  // namespace ulix_testing
