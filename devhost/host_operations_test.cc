#include "devhost/host_operations.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <future>
#include <string>

#include "devhost/host_value_json.h"
#include "devhost/http_server.h"
#include "devhost/plugin_instance.h"
#include "devhost/test_catalogue.h"

namespace devhost {
namespace {

class HostOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    store_ = DataStore::Open(folder_ + "/store.sqlite3", error);
    ASSERT_TRUE(store_) << error;
    host_ = std::make_unique<HostOperations>(
        HostSettings{{"--ulix-auth.url=http://x", "--flag"}, "EU", folder_ + "/telemetry.jsonl"},
        *store_, events_, timers_, log_);
  }
  void TearDown() override {
    timers_.Stop();
    host_.reset();
    EXPECT_EQ(HostOperations::OutstandingResponses(), 0u);
  }

  // One resource call as the plug-in makes it, answered "<status> <error text or JSON value>";
  // the response is given back before returning.
  std::string Call(std::uint32_t method, const std::string& path,
                   const char* argument_json = nullptr) {
    std::string error;
    std::optional<OwnedHostValue> argument;
    HostNamedValue named{};
    HostRequest request{};
    request.method = method;
    request.path = path.c_str();
    if (argument_json != nullptr) {
      argument = OwnedHostValue::ParseJson(argument_json, error);
      named.value = argument->record();
      request.namedValues = &named;
      request.namedValueCount = 1;
    }
    HostResponse response{};
    const HostFunctionTable* table = host_->functions();
    table->callResource(table, &response, &request);
    const std::string answer =
        std::to_string(response.status) + " " +
        (response.errorText ? response.errorText : HostValueToJson(response.value));
    if (response.release != nullptr) response.release(&response);
    return answer;
  }

  devhost_test::TempFolder temp_;
  const std::string folder_ = temp_.path;
  HostLog log_;
  EventHub events_;
  TimerQueue timers_;
  std::unique_ptr<DataStore> store_;
  std::unique_ptr<HostOperations> host_;
};

TEST_F(HostOperationsTest, AnswersFromItsSettingsTheDataStoreAndTelemetry) {
  const std::string path = "/data-store/v1/system-settings/region_data/EU/ulix";
  const std::string install = "/data-store/v1/install-settings/ulix-auth";
  const std::string nothing = "404 Nothing is stored at " + path + ".";
  // Each call's answer and the one expected; the calls run in order, as an initializer list
  // runs its elements left to right.
  const std::pair<std::string, std::string> rows[] = {
      {Call(kHostMethodGet, "/vornclient/command-line-args"),
       R"(200 ["--ulix-auth.url=http://x","--flag"])"},
      {Call(kHostMethodGet, "/vornclient/region-locale"),
       R"(200 {"region":"EU","locale":"en_US"})"},
      {Call(kHostMethodGet, "/plugin-manager/v1/status"), R"(200 {"state":"NotReady"})"},
      {Call(kHostMethodGet, "/nowhere"), "404 No resource GET /nowhere in this host."},
      {Call(kHostMethodGet, path), nothing},
      {Call(kHostMethodPost, path, R"({"install-identifier":"00ff"})"), "200 null"},
      {Call(kHostMethodGet, path), R"(200 {"install-identifier":"00ff"})"},
      {Call(kHostMethodPost, path), "400 Nothing to store at " + path + "."},
      {Call(kHostMethodDelete, path), "200 null"},
      {Call(kHostMethodGet, path), nothing},
      // Install settings are empty until the plug-in writes some.
      {Call(kHostMethodGet, install), "200 {}"},
      {Call(kHostMethodPut, install, R"({"install-identifier":"ab"})"), "200 null"},
      {Call(kHostMethodGet, install), R"(200 {"install-identifier":"ab"})"},
      {Call(kHostMethodPost, "/telemetry/v1/events/ulix_token_request", R"({"succeeded":"true"})"),
       "200 null"},
      {Call(kHostMethodPost, "/telemetry/v1/common-data/client_id", R"("devhost")"), "200 null"},
  };
  for (const auto& [answer, expected] : rows) EXPECT_EQ(answer, expected);
  host_->PublishPluginManagerState(true);
  EXPECT_EQ(Call(kHostMethodGet, "/plugin-manager/v1/status"),
            R"(200 {"state":"PluginsInitialized"})");
  // Telemetry is appended as lines of JSON, each starting with its time.
  std::ifstream in(folder_ + "/telemetry.jsonl");
  std::string lines;
  for (std::string line; std::getline(in, line);) lines += line.substr(line.find(",")) + "\n";
  EXPECT_EQ(lines,
            R"(,"path":"/telemetry/v1/events/ulix_token_request","value":{"succeeded":"true"}})"
            "\n"
            R"(,"path":"/telemetry/v1/common-data/client_id","value":"devhost"})"
            "\n");
}

void Fire(void* context) { static_cast<std::promise<void>*>(context)->set_value(); }

TEST_F(HostOperationsTest, RunsDelayedCallbacksOnTheTimerThreadAndAnnouncesThem) {
  auto listener = events_.Listen();
  std::promise<void> fired;
  const HostFunctionTable* table = host_->functions();
  table->scheduleCallback(table, "ulix-auth.\"refresh\"", &Fire, &fired, -3.0, 0);
  fired.get_future().wait();
  std::string frame;
  bool closed = false;
  ASSERT_TRUE(events_.Next(*listener, frame, std::chrono::milliseconds(0), closed));
  // A delay in the past is announced as due now; the label is escaped as JSON text.
  EXPECT_TRUE(
      frame.starts_with("event: DevhostTimer\ndata: {\"label\":\"ulix-auth.\\\"refresh\\\"\","
                        "\"delaySeconds\":0.0,\"dueAt\":"))
      << frame;
  events_.Forget(listener);
}

TEST_F(HostOperationsTest, SendsHttpThroughCurlAndReportsTransportFailures) {
  // The host's own server answers: POST /items echoes the body and the X-Probe header, and the
  // console folder holds a file larger than any answer the host reads.
  std::ofstream(folder_ + "/large.js") << std::string(9u << 20, 'x');
  const CatalogueRouter router(devhost_test::EchoCatalogue());
  ServerSettings settings;
  settings.secret = "s";
  settings.console_folder = folder_;
  ApiServer server(std::move(settings), router, events_, log_);
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Bind());
  ASSERT_TRUE(server.Start());

  // The transport result, status, body and headers (names in lower case) of one exchange.
  const HostFunctionTable* table = host_->functions();
  auto send = [&](std::uint32_t method, const std::string& url) {
    const HostHeaderPair headers[] = {{"Authorization", "Bearer s"}, {"X-Probe", "d5"}};
    const std::string_view body = "grant_type=password";
    const HostHttpRequest request{
        method, url.c_str(), headers, 2, body.data(), static_cast<std::uint32_t>(body.size()), 10,
        0};
    HostHttpResponse response{};
    table->sendHttpRequest(table, &request, &response);
    std::string text = std::to_string(response.transportResult) + " " +
                       std::to_string(response.status) + " " +
                       std::string(static_cast<const char*>(response.body), response.bodyLength);
    for (std::uint32_t i = 0; i < response.headerCount; ++i) {
      HostHeaderPair pair;
      std::memcpy(&pair, &response.headers[i], sizeof pair);
      text += std::string("\n") + pair.name + ": " + pair.value;
    }
    response.release(&response);
    return text;
  };
  const std::string echoed = send(kHostMethodPost, base + "/items");
  EXPECT_EQ(echoed.substr(0, echoed.find('\n')),
            R"(0 200 {"method":6,"path":"/items","query":{},"body":"grant_type=password",)"
            R"("type":"application/x-www-form-urlencoded","probe":"d5"})");
  EXPECT_NE(echoed.find("\nx-frame-options: DENY"), std::string::npos) << echoed;
  // An answer over 8 MiB, any scheme but http and https, and a server that has stopped fail as
  // transport errors with a message.
  EXPECT_EQ(send(kHostMethodGet, base + "/large.js"), "1 0 the answer's body is larger than 8 MiB");
  std::string failures;  // "1 0 " and whether a message followed, per request
  for (const char* refused : {"file:///etc/hostname", "ftp://127.0.0.1/", "gopher://127.0.0.1/"}) {
    const std::string text = send(kHostMethodGet, refused);
    failures += text.substr(0, 4) + (text.size() > 4 ? "said|" : "|");
  }
  server.Stop();
  const std::string text = send(kHostMethodPost, base + "/items");
  failures += text.substr(0, 4) + (text.size() > 4 ? "said" : "");
  EXPECT_EQ(failures, "1 0 said|1 0 said|1 0 said|1 0 said");
}

TEST_F(HostOperationsTest, StartsAndStopsTheBuiltPlugInCleanlyAndSaysWhyALibraryWouldNotLoad) {
  std::string error;
  EXPECT_FALSE(PluginInstance::Load("/nonexistent/libnothing.so", error));
  EXPECT_NE(error.find("cannot open /nonexistent/libnothing.so"), std::string::npos) << error;
  std::unique_ptr<PluginInstance> plugin = PluginInstance::Load(ULIX_AUTH_LIBRARY_PATH, error);
  ASSERT_TRUE(plugin) << error;
  EXPECT_STREQ(plugin->short_name(), "ulix-auth");
  const HostContext context{host_->functions(), 1};
  EXPECT_TRUE(plugin->Start(&context));
  timers_.Stop();  // the plug-in's start-up callbacks may not outlive it
  plugin->Stop();
  EXPECT_EQ(events_.SubscriptionCount(), 0u);
}

}  // namespace
}  // namespace devhost
