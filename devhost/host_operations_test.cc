#include "devhost/host_operations.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "devhost/host_value_json.h"
#include "devhost/http_server.h"
#include "devhost/plugin_instance.h"
#include "devhost/test_catalogue.h"

namespace devhost {
namespace {

class HostOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/devhost-host-XXXXXX";
    folder_ = mkdtemp(pattern);
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
    std::filesystem::remove_all(folder_);
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

  std::string folder_;
  HostLog log_;
  EventHub events_;
  TimerQueue timers_;
  std::unique_ptr<DataStore> store_;
  std::unique_ptr<HostOperations> host_;
};

TEST_F(HostOperationsTest, ServesTheCommandLineRegionAndPluginManagerState) {
  EXPECT_EQ(Call(kHostMethodGet, "/vornclient/command-line-args"),
            R"(200 ["--ulix-auth.url=http://x","--flag"])");
  EXPECT_EQ(Call(kHostMethodGet, "/vornclient/region-locale"),
            R"(200 {"region":"EU","locale":"en_US"})");
  EXPECT_EQ(Call(kHostMethodGet, "/plugin-manager/v1/status"), R"(200 {"state":"NotReady"})");
  host_->PublishPluginManagerState(true);
  EXPECT_EQ(Call(kHostMethodGet, "/plugin-manager/v1/status"),
            R"(200 {"state":"PluginsInitialized"})");
}

TEST_F(HostOperationsTest, KeepsDataStoreDocumentsUnderTheirPathsAndDefaultsInstallSettings) {
  const std::string path = "/data-store/v1/system-settings/region_data/EU/ulix";
  const std::string install = "/data-store/v1/install-settings/ulix-auth";
  const std::string nothing = "404 Nothing is stored at " + path + ".";
  // The calls in order; the initializer list runs them left to right.
  const std::vector<std::string> answers = {
      Call(kHostMethodGet, path),
      Call(kHostMethodPost, path, R"({"install-identifier":"00ff"})"),
      Call(kHostMethodGet, path),
      Call(kHostMethodPost, path),  // nothing to store
      Call(kHostMethodDelete, path),
      Call(kHostMethodGet, path),
      // Install settings are empty until the plug-in writes some.
      Call(kHostMethodGet, install),
      Call(kHostMethodPut, install, R"({"install-identifier":"ab"})"),
      Call(kHostMethodGet, install),
  };
  EXPECT_EQ(answers, (std::vector<std::string>{
                         nothing, "200 ?", R"(200 {"install-identifier":"00ff"})", "400 ?", "200 ?",
                         nothing, "200 {}", "200 ?", R"(200 {"install-identifier":"ab"})"}));
}

TEST_F(HostOperationsTest, AnswersUnknownResourcesWith404AndAppendsTelemetryLines) {
  EXPECT_EQ(Call(kHostMethodGet, "/nowhere"), "404 No resource GET /nowhere in this host.");
  EXPECT_EQ(
      Call(kHostMethodPost, "/telemetry/v1/events/ulix_token_request", R"({"succeeded":"true"})") +
          ", " + Call(kHostMethodPost, "/telemetry/v1/common-data/client_id", R"("devhost")"),
      "200 ?, 200 ?");
  std::ifstream in(folder_ + "/telemetry.jsonl");
  std::string first, second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_NE(first.find(
                R"("path":"/telemetry/v1/events/ulix_token_request","value":{"succeeded":"true"})"),
            std::string::npos)
      << first;
  EXPECT_NE(second.find(R"("value":"devhost")"), std::string::npos) << second;
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
  EXPECT_EQ(frame.rfind("event: DevhostTimer\ndata: {\"label\":\"ulix-auth.\\\"refresh\\\"\","
                        "\"delaySeconds\":0.0,\"dueAt\":",
                        0),
            0u)
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

  const std::string url = base + "/items";
  const HostHeaderPair headers[] = {{"Authorization", "Bearer s"}, {"X-Probe", "d5"}};
  const char body[] = "grant_type=password";
  HostHttpRequest request{};
  request.method = kHostMethodPost;
  request.url = url.c_str();
  request.headers = headers;
  request.headerCount = 2;
  request.body = body;
  request.bodyLength = sizeof body - 1;
  request.timeout = 10;
  // The transport result, status, body and headers (names in lower case) of one exchange.
  const HostFunctionTable* table = host_->functions();
  auto send = [&](const HostHttpRequest& sent) {
    HostHttpResponse response{};
    table->sendHttpRequest(table, &sent, &response);
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
  const std::string echoed = send(request);
  EXPECT_EQ(echoed.rfind(R"(0 200 {"method":6,"path":"/items",)", 0), 0u) << echoed;
  EXPECT_NE(echoed.find(R"("body":"grant_type=password",)"), std::string::npos) << echoed;
  EXPECT_NE(echoed.find(R"("probe":"d5"})"), std::string::npos) << echoed;
  EXPECT_NE(echoed.find("\nx-frame-options: DENY"), std::string::npos) << echoed;

  // An answer over 8 MiB, and any scheme but http and https, fail as transport errors.
  const std::string large = base + "/large.js";
  HostHttpRequest other = request;
  other.method = kHostMethodGet;
  other.url = large.c_str();
  EXPECT_EQ(send(other), "1 0 the answer's body is larger than 8 MiB");
  for (const char* refused : {"file:///etc/hostname", "ftp://127.0.0.1/", "gopher://127.0.0.1/"}) {
    SCOPED_TRACE(refused);
    other.url = refused;
    EXPECT_EQ(send(other).rfind("1 0 ", 0), 0u);
  }
  // Nobody listens there any more.
  server.Stop();
  const std::string unanswered = send(request);
  EXPECT_EQ(unanswered.rfind("1 0 ", 0), 0u);
  EXPECT_GT(unanswered.size(), 4u);
}

TEST(PluginInstance, SaysWhyALibraryCannotBeLoaded) {
  std::string error;
  EXPECT_FALSE(PluginInstance::Load("/nonexistent/libnothing.so", error));
  EXPECT_NE(error.find("cannot open /nonexistent/libnothing.so"), std::string::npos) << error;
}

TEST_F(HostOperationsTest, StartsAndStopsTheBuiltPlugInCleanly) {
  std::string error;
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
