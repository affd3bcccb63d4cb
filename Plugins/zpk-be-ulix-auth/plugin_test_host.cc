#include "Plugins/zpk-be-ulix-auth/plugin_test_host.h"

#include <cstdio>
#include <map>
#include <utility>

#include "gtest/gtest.h"

namespace ulix_auth {
namespace {

using ulix_testing::FakeHost;
using ulix_testing::FakeValue;

std::atomic<std::int64_t> test_clock_ns{0};

// The test host that owns each table: the notes find their host through the table's address.
std::mutex noting_hosts_mutex;
std::map<const HostFunctionTable*, PluginTestHost*> noting_hosts;

FakeHost::ResourceAnswer Found(FakeValue value) {
  FakeHost::ResourceAnswer answer;
  answer.value = std::move(value);
  return answer;
}

FakeHost::ResourceAnswer Missing() {
  FakeHost::ResourceAnswer answer;
  answer.status = 404;
  answer.error = "not found";
  return answer;
}
std::int64_t TestClock() { return test_clock_ns.load(); }

// The text of `member` in a compact JSON object written by FakeValue, when it is a string.
std::string StringMember(const std::string& json, std::string_view member) {
  const std::string key = "\"" + std::string(member) + "\":\"";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const std::size_t begin = at + key.size();
  return json.substr(begin, json.find('"', begin) - begin);
}

std::string Base64Url(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
  } else if (i + 2 == bytes.size()) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

}  // namespace

std::string MakeToken(std::string_view payload_json) {
  return Base64Url(R"({"alg":"RS256","typ":"JWT"})") + "." + Base64Url(payload_json) + "." +
         Base64Url("signature");
}

std::string AccessTokenFor(std::string_view subject) {
  return MakeToken(std::string(R"({"exp":1900000000,"scp":["openid","kiv"],"sub":")") +
                   std::string(subject) + R"(","dat":{"r":"NA1","u":123456}})");
}

std::string IdTokenText() { return MakeToken(R"({"exp":1900000100,"tag":["ent1","ent2"]})"); }

std::string ConfigToken() {
  return MakeToken(R"({"aud":"https://jwt.test/token","sub":"jwt-client"})");
}

ServiceReply TokenReply(std::string_view access_token, int expires_in, bool with_id_token,
                        bool with_refresh_token) {
  std::string body = "{\"access_token\":\"" + std::string(access_token) + "\"";
  if (with_id_token) body += ",\"id_token\":\"" + IdTokenText() + "\"";
  if (with_refresh_token) body += ",\"refresh_token\":\"refresh/1\"";
  body += ",\"expires_in\":" + std::to_string(expires_in) + "}";
  return ServiceReply{0, 200, body};
}

PluginTestHost::PluginTestHost() {
  test_clock_ns.store(1'000'000'000'000);
  SetCommandLine({});
  host_.ScriptResource("/vornclient/region-locale",
                       Found(FakeValue::Object({{"region", FakeValue::Text("NA1")}})));
  SetRegionSettings(FakeValue::Object({
      {"allow_lq_fallback", FakeValue::Bool(true)},
      {"client", FakeValue::Text("pc-client")},
      {"url", FakeValue::Text(kServiceUrl)},
      {"kount", FakeValue::Object({{"merchant", FakeValue::Text("m-1")}})},
  }));
  SetInstallSettings(FakeValue::Object({{"install-identifier", FakeValue::Text("install-1")}}));
  Answer(kDiscoveryUrl,
         {0, 200,
          R"({"vorn_kiv_regions_supported":["NA1","EUW1"],"vorn_kiv_regions_disabled":["EUW1"],)"
          R"("vorn_kiv_userinfo_regions_enabled":["NA1"],"vorn_did_uri":"https://did.test/frame",)"
          R"("userinfo_endpoint":"https://auth.test/userinfo"})"});
  Answer(std::string(kTokenUrl) + "/revoke", {0, 200, "{}"});
  host_.SetResourceHandler([this](const HostRequest& request, HostResponse& response) {
    HandleResource(request, response);
  });
  host_.SetHttpHandler([this](const HostHttpRequest& request, HostHttpResponse& response) {
    HandleExchange(request, response);
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
    test.Note("change " + StringMember(json, "eventType") + " " + StringMember(json, "uri"));
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
  test.Note(std::string("schedule ") + (label != nullptr ? label : ""));
  test.fake_entries_.scheduleCallback(self, label, callback, context, delay_seconds, zero);
}

void PluginTestHost::NoteHttp(const HostFunctionTable* self, const HostHttpRequest* request,
                              HostHttpResponse* response) {
  PluginTestHost& test = From(self);
  test.Note(std::string("http ") +
            (request != nullptr && request->url != nullptr ? request->url : ""));
  test.fake_entries_.sendHttpRequest(self, request, response);
}

void PluginTestHost::NoteResource(const HostFunctionTable* self, HostResponse* response,
                                  const HostRequest* request) {
  PluginTestHost& test = From(self);
  test.Note(std::string("resource ") +
            (request != nullptr && request->path != nullptr ? request->path : ""));
  test.fake_entries_.callResource(self, response, request);
}

void PluginTestHost::SetCommandLine(std::vector<std::string> arguments) {
  std::vector<FakeValue> items;
  for (std::string& argument : arguments) items.push_back(FakeValue::Text(std::move(argument)));
  host_.ScriptResource("/vornclient/command-line-args", Found(FakeValue::Array(std::move(items))));
}

void PluginTestHost::SetRegionSettings(std::optional<FakeValue> settings) {
  const std::string path = "/data-store/v1/system-settings/region_data/NA1/ulix";
  if (settings) {
    host_.ScriptResource(path, Found(std::move(*settings)));
  } else {
    host_.ScriptResource(path, Missing());
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
  const bool install = request.path != nullptr && std::string_view(request.path) ==
                                                      "/data-store/v1/install-settings/ulix-auth";
  if (install && request.method == kHostMethodGet && install_settings_) {
    response.value = install_settings_->Build(kept_values_.emplace_back());
    response.status = 200;
  } else if (install && request.method == kHostMethodPost && !install_write_refused_) {
    response.status = 200;
  } else {
    response.errorText = kNotFound;
    response.errorFlag = 1;
    response.status = 404;
  }
}

void PluginTestHost::Answer(const std::string& url, ServiceReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  always_[url] = std::move(reply);
}

void PluginTestHost::AnswerOnce(const std::string& url, ServiceReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  once_[url].push_back(std::move(reply));
}

void PluginTestHost::Respond(const std::string& url,
                             std::function<ServiceReply(const std::string& body)> responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responders_[url] = std::move(responder);
}

void PluginTestHost::OnExchange(std::function<void(const std::string& url)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<std::string> PluginTestHost::RequestedUrls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return urls_;
}

int PluginTestHost::RequestCount(const std::string& url) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const std::string& seen : urls_) count += seen == url ? 1 : 0;
  return count;
}

void PluginTestHost::HandleExchange(const HostHttpRequest& request, HostHttpResponse& response) {
  const std::string url = request.url != nullptr ? request.url : "";
  std::function<void(const std::string&)> hook;
  std::function<ServiceReply(const std::string&)> responder;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hook = hook_;
    if (auto found = responders_.find(url); found != responders_.end()) responder = found->second;
  }
  if (hook) hook(url);
  std::optional<ServiceReply> responded;
  if (responder) {
    const char* body = static_cast<const char*>(request.body);
    responded = responder(body != nullptr ? std::string(body, request.bodyLength) : "");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  urls_.push_back(url);
  ServiceReply reply{1, 0, "connection refused"};
  if (responded) {
    reply = std::move(*responded);
  } else if (auto queued = once_.find(url); queued != once_.end() && !queued->second.empty()) {
    reply = std::move(queued->second.front());
    queued->second.pop_front();
  } else if (auto fixed = always_.find(url); fixed != always_.end()) {
    reply = fixed->second;
  }
  const std::string& body = kept_.emplace_back(std::move(reply.body));
  response = HostHttpResponse{};
  response.transportResult = reply.transport;
  response.status = reply.status;
  response.body = body.empty() ? nullptr : body.data();
  response.bodyLength = static_cast<std::uint32_t>(body.size());
}

void PluginTestHost::Start(bool apply) {
  plugin_ = new ULIXAuthPlugin();
  block_ = HostInitBlock{};
  block_.major = 18;
  plugin_->handshake(&block_, kShortName);
  plugin_->setMonotonicClock(&TestClock);
  chooser_ = std::make_unique<ulix_testing::EndpointChooser>(*block_.catalogue);
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
  ulix_testing::TestRequest request;
  request.method = method;
  request.path = path;
  if (json_body) {
    request.content_type = "application/json";
    request.body = std::move(json_body);
  }
  ulix_testing::DispatchedResponse response;
  ulix_testing::Dispatch(*endpoint, request, response);
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

PluginTestHost::Reply PluginTestHost::SignOn(ServiceReply reply) {
  AnswerOnce(kTokenUrl, std::move(reply));
  return Send(kHostMethodPost, "/ulix-auth/v1/authorization/gas",
              R"({"username":"ann","password":"pw","platformId":"NA1"})");
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

}  // namespace ulix_auth
