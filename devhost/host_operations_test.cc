#include "devhost/host_operations.h"

#include <gtest/gtest.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "devhost/host_value_json.h"
#include "devhost/plugin_instance.h"

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

  struct Answer {
    std::uint32_t status;
    std::string error;
    std::string json;
  };
  // One resource call as the plug-in makes it; the response is given back before returning.
  Answer Call(std::uint32_t method, const std::string& path, const char* argument_json = nullptr) {
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
    Answer answer{response.status, response.errorText ? response.errorText : "",
                  response.errorText ? "" : HostValueToJson(response.value)};
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
  Answer answer = Call(kHostMethodGet, "/vornclient/command-line-args");
  EXPECT_EQ(answer.json, R"(["--ulix-auth.url=http://x","--flag"])");
  answer = Call(kHostMethodGet, "/vornclient/region-locale");
  EXPECT_EQ(answer.json, R"({"region":"EU","locale":"en_US"})");
  EXPECT_EQ(Call(kHostMethodGet, "/plugin-manager/v1/status").json, R"({"state":"NotReady"})");
  host_->PublishPluginManagerState(true);
  EXPECT_EQ(Call(kHostMethodGet, "/plugin-manager/v1/status").json,
            R"({"state":"PluginsInitialized"})");
}

TEST_F(HostOperationsTest, KeepsDataStoreDocumentsUnderTheirPaths) {
  const std::string path = "/data-store/v1/system-settings/region_data/EU/ulix";
  Answer answer = Call(kHostMethodGet, path);
  EXPECT_EQ(answer.status, 404u);
  EXPECT_EQ(answer.error, "Nothing is stored at " + path + ".");
  EXPECT_EQ(Call(kHostMethodPost, path, R"({"install-identifier":"00ff"})").status, 200u);
  EXPECT_EQ(Call(kHostMethodGet, path).json, R"({"install-identifier":"00ff"})");
  EXPECT_EQ(Call(kHostMethodPost, path).status, 400u);  // nothing to store
  EXPECT_EQ(Call(kHostMethodDelete, path).status, 200u);
  EXPECT_EQ(Call(kHostMethodGet, path).status, 404u);
}

TEST_F(HostOperationsTest, ServesEmptyInstallSettingsUntilThePlugInWritesSome) {
  const std::string path = "/data-store/v1/install-settings/ulix-auth";
  EXPECT_EQ(Call(kHostMethodGet, path).json, "{}");
  EXPECT_EQ(Call(kHostMethodPut, path, R"({"install-identifier":"ab"})").status, 200u);
  EXPECT_EQ(Call(kHostMethodGet, path).json, R"({"install-identifier":"ab"})");
}

TEST_F(HostOperationsTest, AnswersUnknownResourcesWith404AndAppendsTelemetryLines) {
  Answer answer = Call(kHostMethodGet, "/nowhere");
  EXPECT_EQ(answer.status, 404u);
  EXPECT_EQ(answer.error, "No resource GET /nowhere in this host.");
  EXPECT_EQ(
      Call(kHostMethodPost, "/telemetry/v1/events/ulix_token_request", R"({"succeeded":"true"})")
          .status,
      200u);
  EXPECT_EQ(Call(kHostMethodPost, "/telemetry/v1/common-data/client_id", R"("devhost")").status,
            200u);
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
  // Echoes the body, and the header X-Vorn-DSID as X-Echo.
  struct Upload {
    std::string body;
    bool started = false;
  };
  MHD_AccessHandlerCallback echo = [](void*, MHD_Connection* connection, const char*, const char*,
                                      const char*, const char* data, std::size_t* size,
                                      void** state) -> MHD_Result {
    auto* upload = static_cast<Upload*>(*state);
    if (upload == nullptr) {
      *state = new Upload;
      return MHD_YES;
    }
    if (*size != 0) {
      upload->body.append(data, *size);
      *size = 0;
      return MHD_YES;
    }
    MHD_Response* response = MHD_create_response_from_buffer(
        upload->body.size(), upload->body.data(), MHD_RESPMEM_MUST_COPY);
    const char* dsid = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Vorn-DSID");
    MHD_add_response_header(response, "X-Echo", dsid != nullptr ? dsid : "");
    const MHD_Result queued = MHD_queue_response(connection, 200, response);
    MHD_destroy_response(response);
    return queued;
  };
  MHD_RequestCompletedCallback done = [](void*, MHD_Connection*, void** state,
                                         MHD_RequestTerminationCode) {
    delete static_cast<Upload*>(*state);
  };
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  MHD_Daemon* server = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr, echo,
                                        nullptr, MHD_OPTION_SOCK_ADDR, &loopback,
                                        MHD_OPTION_NOTIFY_COMPLETED, done, nullptr, MHD_OPTION_END);
  ASSERT_NE(server, nullptr);
  const int port = MHD_get_daemon_info(server, MHD_DAEMON_INFO_BIND_PORT)->port;

  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/token";
  // Closing the connection lets the test server stop at once.
  const HostHeaderPair headers[] = {{"X-Vorn-DSID", "d5"}, {"Connection", "close"}};
  const char body[] = "grant_type=password";
  HostHttpRequest request{};
  request.method = kHostMethodPost;
  request.url = url.c_str();
  request.headers = headers;
  request.headerCount = 2;
  request.body = body;
  request.bodyLength = sizeof body - 1;
  request.timeout = 10;
  HostHttpResponse response{};
  const HostFunctionTable* table = host_->functions();
  table->sendHttpRequest(table, &request, &response);
  EXPECT_EQ(response.transportResult, 0u);
  EXPECT_EQ(response.status, 200u);
  EXPECT_EQ(std::string(static_cast<const char*>(response.body), response.bodyLength), body);
  bool echoed = false;
  for (std::uint32_t i = 0; i < response.headerCount; ++i) {
    HostHeaderPair pair;
    std::memcpy(&pair, &response.headers[i], sizeof pair);
    echoed |= std::string(pair.name) == "x-echo" && std::string(pair.value) == "d5";
  }
  EXPECT_TRUE(echoed);
  response.release(&response);

  // An answer over 8 MiB, and any scheme but http and https, fail as transport errors.
  const std::string large(9u << 20, 'x');
  request.body = large.data();
  request.bodyLength = static_cast<std::uint32_t>(large.size());
  HostHttpResponse too_large{};
  table->sendHttpRequest(table, &request, &too_large);
  EXPECT_EQ(too_large.transportResult, 1u);
  EXPECT_EQ(std::string(static_cast<const char*>(too_large.body), too_large.bodyLength),
            "the answer's body is larger than 8 MiB");
  too_large.release(&too_large);
  request.body = body;
  request.bodyLength = sizeof body - 1;
  for (const char* url : {"file:///etc/hostname", "ftp://127.0.0.1/", "gopher://127.0.0.1/"}) {
    SCOPED_TRACE(url);
    HostHttpRequest other = request;
    other.url = url;
    HostHttpResponse refused{};
    table->sendHttpRequest(table, &other, &refused);
    EXPECT_EQ(refused.transportResult, 1u);
    EXPECT_EQ(refused.status, 0u);
    refused.release(&refused);
  }
  MHD_stop_daemon(server);

  // Nobody listens there any more.
  HostHttpResponse refused{};
  table->sendHttpRequest(table, &request, &refused);
  EXPECT_EQ(refused.transportResult, 1u);
  EXPECT_GT(refused.bodyLength, 0u);
  refused.release(&refused);
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
