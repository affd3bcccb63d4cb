// The sign-on plug-in driven as a host drives it: endpoint records chosen from its catalogue,
// events and log lines read from the fake host, the sign-on service answering per URL.
#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ulix_testing::AccessTokenFor;
using ulix_testing::ConfigToken;
using ulix_testing::FakeHost;
using ulix_testing::FakeValue;
using ulix_testing::IdTokenText;
using ulix_testing::kDiscoveryUrl;
using ulix_testing::kRevokeUrl;
using ulix_testing::kServiceUrl;
using ulix_testing::kTokenUrl;
using ulix_testing::kUserInfoUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::ServiceToken;
using ulix_testing::TokenReply;

constexpr std::uint32_t kGet = kHostMethodGet;
constexpr std::uint32_t kPost = kHostMethodPost;
constexpr std::uint32_t kPut = kHostMethodPut;
constexpr std::uint32_t kDelete = kHostMethodDelete;

TEST(Registration, NamesTheNineteenEndpointsFromMethodAndPath) {
  PluginTestHost test;
  test.Start();
  // Every one is reachable by its method and path and carries the name derived from them.
  const struct {
    std::uint32_t method;
    const char* path;
    const char* answer;
  } rows[] = {
      {kGet, "/ulix-auth/v1/authorization", "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/error", "404 No error from last authentication."},
      {kGet, "/ulix-auth/v1/authorization/access-token", "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/entitlements-token",
       "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/id-token", "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/gas-token", "404 No authorization currently exists."},
      {kPost, "/ulix-auth/v1/authorization/refresh", "404 No authorization currently exists."},
      {kDelete, "/ulix-auth/v1/authorization", "404 No authorization currently exists."},
      {kDelete, "/ulix-auth/v1/config", "404 No config to delete."},
      {kDelete, "/ulix-auth/v2/config", "404 No config to delete."},
      {kGet, "/ulix-auth/v1/authorization/userinfo",
       "404 No UserInfo currently exists. Are you logged in?"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(test.Text(row.method, row.path), row.answer);
  }
  EXPECT_THAT(test.TakeEvents(), IsEmpty());
}

TEST(ConfigurationSources, LogEveryLoadThatFails) {
  const struct {
    const char* name;
    std::vector<std::string> command_line;
    std::optional<FakeValue> install;
    std::optional<FakeValue> region;
    std::vector<std::string> log;
  } rows[] = {
      {"nothing found",
       {},
       std::nullopt,
       std::nullopt,
       {"3|Could not load local ULIX settings.", "3|ULIX settings not found."}},
      {"disabled reads nothing else",
       {"--ulix-auth.disabled"},
       std::nullopt,
       std::nullopt,
       {"3|Using ULIX disabled via command line argument"}},
      {"region without a client",
       {},
       FakeValue::Object({{"install-identifier", FakeValue::Text("i")}}),
       FakeValue::Object(
           {{"allow_lq_fallback", FakeValue::Bool(false)}, {"kount", FakeValue::Object({})}}),
       {"3|ULIX settings invalid."}},
      {"token without fallback flag, Kount without merchant",
       {},
       FakeValue::Object({{"install-identifier", FakeValue::Text("i")}}),
       FakeValue::Object({{"token", FakeValue::Text(ConfigToken())},
                          {"kount", FakeValue::Object({{"merchants", FakeValue::Text("m")}})}}),
       {"1|ulix-auth: LQ fallback settings not found", "3|Kount settings invalid."}},
      {"no Kount",
       {},
       FakeValue::Object({{"install-identifier", FakeValue::Text("i")}}),
       FakeValue::Object({{"client", FakeValue::Text("c")},
                          {"url", FakeValue::Text(kServiceUrl)},
                          {"allow_lq_fallback", FakeValue::Bool(true)}}),
       {"3|Kount settings not found."}},
      {"configuration tokens that do not parse are ignored",
       {"--ulix-auth.token=" + ServiceToken("[1]")},
       FakeValue::Object({{"install-identifier", FakeValue::Text("i")}}),
       FakeValue::Object({{"allow_lq_fallback", FakeValue::Bool(true)},
                          {"token", FakeValue::Text(ServiceToken("{\"a\":1,\"a\":2}"))}}),
       {"3|Using ULIX config from token " + ServiceToken("[1]"),
        "3|Invalid configuration token: Unexpected token: [",
        "3|Invalid configuration token: Object member already exists: a",
        "3|Kount settings not found."}},
      {"Kount without install settings",
       {},
       std::nullopt,
       FakeValue::Object({{"client", FakeValue::Text("c")},
                          {"url", FakeValue::Text(kServiceUrl)},
                          {"allow_lq_fallback", FakeValue::Bool(true)},
                          {"kount", FakeValue::Object({{"merchant", FakeValue::Text("m")}})}}),
       {"3|Could not load local ULIX settings.",
        "3|Could not load local ULIX settings, cannot configure Kount."}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PluginTestHost test;
    test.SetCommandLine(row.command_line);
    test.SetInstallSettings(row.install);
    test.SetRegionSettings(row.region);
    test.Start(/*apply=*/false);
    EXPECT_EQ(test.TakeLog(), row.log);
  }
}

TEST(ConfigurationSources, DisabledFlagLeavesInstallSettingsUnreadAndConfigTokenless) {
  PluginTestHost test;
  test.SetCommandLine({"--ulix-auth.disabled", "--ulix-auth.url=https://cmd.test"});
  test.Start();
  for (const auto& call : test.host().ResourceCalls()) {
    EXPECT_FALSE(call.path.starts_with("/data-store/")) << call.path;
  }
  // The override holder exists and holds nothing; without an override configuration the
  // client is asked, and with no configuration at all it says no.
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), R"({"token":null})");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/status/NA1"), "404 ULIX not configured.");
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/authorization/gas", R"({"username":"a"})"),
            "500 Invalid ULIX Config.");
  EXPECT_EQ(test.LoggedLine("ULIX not configured,"),
            "ULIX not configured, but ULIX authorization requested.");
}

TEST(ConfigurationSources, WritesTheInstallIdentifierOnceAndServesIt) {
  PluginTestHost test;
  test.SetInstallSettings(FakeValue::Object({{"other", FakeValue::Text("kept")}}));
  test.Start();
  std::vector<ulix_testing::FakeHost::ResourceCall> writes;
  for (const auto& call : test.host().ResourceCalls()) {
    if (call.method == kPost && call.path == "/data-store/v1/install-settings/ulix-auth") {
      writes.push_back(call);
    }
  }
  ASSERT_EQ(writes.size(), 1u);
  ASSERT_EQ(writes[0].arguments.size(), 1u);
  const std::string written = writes[0].arguments[0].second.Json();
  // {"install-identifier":"<32 hex digits>","other":"kept"} in some member order.
  const std::size_t at = written.find("\"install-identifier\":\"");
  ASSERT_NE(at, std::string::npos) << written;
  const std::string identifier = written.substr(at + 22, 32);
  EXPECT_EQ(identifier.find_first_not_of("0123456789abcdef"), std::string::npos) << identifier;
  EXPECT_EQ(written[at + 22 + 32], '"');
  EXPECT_NE(written.find("\"other\":\"kept\""), std::string::npos);

  PluginTestHost::Reply device = test.Send(kPost, "/ulix-auth/v1/device-id");
  ASSERT_EQ(device.error, "");
  EXPECT_NE(device.json.find("\"installId\":\"" + identifier + "\""), std::string::npos)
      << device.json;
  EXPECT_NE(device.json.find("\"merchantId\":\"m-1\""), std::string::npos);
  EXPECT_NE(device.json.find("\"collectorServerName\":\"\""), std::string::npos);
  EXPECT_NE(device.json.find("\"frameUrl\":\"https://did.test/frame\""), std::string::npos);
}

TEST(ConfigurationSources, AnIdentifierTheHostDoesNotStoreLeavesKountUnconfigured) {
  PluginTestHost test;
  test.SetInstallSettings(FakeValue::Object({}));
  test.RefuseInstallSettingsWrite();
  test.Start(/*apply=*/false);
  EXPECT_THAT(test.TakeLog(),
              ElementsAre("3|Could not save local ULIX settings.",
                          "3|Could not load local ULIX settings, cannot configure Kount."));
  test.host().FireScheduled();
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/device-id"), "404 Device ID not available.");
}

TEST(ConfigurationSources, RegionScopesFollowTheBaseScopeButNotOnTheCommandLine) {
  PluginTestHost test;
  test.SetRegionSettings(FakeValue::Object({{"additional_scopes", FakeValue::Text("lol vip")},
                                            {"client", FakeValue::Text("pc-client")},
                                            {"url", FakeValue::Text(kServiceUrl)}}));
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  EXPECT_EQ(test.host().HttpCalls().back().url, kTokenUrl);
  EXPECT_TRUE(test.host().HttpCalls().back().body.ends_with(
      "&scope=openid%20offline_access%20kiv%20ban%20profile%20email%20phone%20lol%20vip"));

  // The command line is read before the region settings.
  PluginTestHost command_line;
  command_line.SetCommandLine({"--ulix-auth.url=https://auth.test", "--ulix-auth.client=cmd"});
  command_line.SetRegionSettings(FakeValue::Object(
      {{"additional_scopes", FakeValue::Text("lol")}, {"token", FakeValue::Text(ConfigToken())}}));
  command_line.Start();
  ASSERT_EQ(command_line.SignOn().error, "");
  EXPECT_TRUE(command_line.host().HttpCalls().back().body.ends_with("%20email%20phone"));
}

TEST(ConfigurationSources, GiveEachStartAFreshKountSession) {
  std::string sessions[2];
  for (std::string& session : sessions) {
    PluginTestHost test;
    test.Start();
    const std::string json = test.Text(kPost, "/ulix-auth/v1/device-id");
    const std::size_t at = json.find("\"sessionId\":\"");
    ASSERT_NE(at, std::string::npos) << json;
    session = json.substr(at + 13, 32);
    EXPECT_EQ(session.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
  EXPECT_NE(sessions[0], sessions[1]);
}

TEST(ConfigurationSources, CommandLineOverridesTheRegionAndPublicClientBeatsToken) {
  const struct {
    const char* name;
    std::vector<std::string> command_line;
    const char* config_answer;  // GET config/NA1
    const char* status_answer;  // GET status/NA1
    const char* log;            // the command-line line
  } rows[] = {
      {"url, client and token: the public client, no override token",
       {"--ulix-auth.url=https://auth.test", "--ulix-auth.client=cmd", "--ulix-auth.token=x.y.z"},
       "404 ULIX settings not found.",
       R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})",
       "Using ULIX public client config from commandline: client cmd, url https://auth.test"},
      {"url without client: the token",
       {"--ulix-auth.url=https://auth.test", "--ulix-auth.token=" + ConfigToken(),
        "--ulix-auth.required"},
       nullptr,
       R"({"enabled":false,"isLQFallbackAllowed":false,"isUserInfoEnabled":false,"platformId":"NA1"})",
       nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PluginTestHost test;
    test.SetRegionSettings(std::nullopt);
    test.SetCommandLine(row.command_line);
    test.Start();
    if (row.config_answer != nullptr) {
      EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), row.config_answer);
    } else {
      EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"),
                "{\"token\":\"" + ConfigToken() + "\"}");
    }
    EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/status/NA1"), row.status_answer);
    if (row.log != nullptr) {
      EXPECT_EQ(test.LoggedLine("Using ULIX"), row.log);
    }
  }
}

// The delay of the last log line "<prefix><seconds> seconds...", or -1.
double LoggedDelay(const PluginTestHost& test, std::string_view prefix) {
  const std::string line = test.LoggedLine(prefix);
  if (line.empty()) return -1;
  return std::stod(line.substr(prefix.size()));
}

std::string ErrorBody(std::string_view error, std::string_view description) {
  return "{\"error\":\"" + std::string(error) + "\",\"error_description\":\"" +
         std::string(description) + "\"}";
}

class SignedOn : public ::testing::Test {
 protected:
  void SetUp() override {
    test_.Start();
    PluginTestHost::Reply reply = test_.SignOn();
    ASSERT_EQ(reply.error, "");
    test_.TakeChanges();
    test_.TakeLog();
  }

  PluginTestHost test_;
};

TEST(SignOn, PublishesFourCreatesInOrderAndSchedulesTheRefresh) {
  PluginTestHost test;
  test.Start();
  // A sign-on the service cannot be reached for leaves an error behind.
  test.Send(kPost, "/ulix-auth/v1/authorization/gas", R"({"username":"x"})");
  ASSERT_EQ(
      test.Text(kGet, "/ulix-auth/v1/authorization/error"),
      R"({"error":"temporarily_unavailable","errorDescription":"Unable to connect to server"})");
  test.TakeChanges();

  PluginTestHost::Reply reply = test.SignOn();
  EXPECT_EQ(reply.error, "");
  EXPECT_EQ(reply.json,
            R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-1"})");
  std::vector<std::string> data;
  EXPECT_THAT(test.TakeChanges(&data),
              ElementsAre("Create /ulix-auth/v1/authorization",
                          "Create /ulix-auth/v1/authorization/access-token",
                          "Create /ulix-auth/v1/authorization/id-token",
                          "Create /ulix-auth/v1/authorization/entitlements-token"));
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[0], reply.json);
  EXPECT_EQ(data[1], test.Text(kGet, "/ulix-auth/v1/authorization/access-token"));
  EXPECT_EQ(data[1], "{\"expiry\":1900000000,\"scopes\":[\"openid\",\"kiv\"],\"token\":\"" +
                         AccessTokenFor() + "\"}");
  EXPECT_EQ(data[2], "{\"expiry\":1900000100,\"token\":\"" + IdTokenText() + "\"}");
  EXPECT_EQ(data[3], "{\"entitlements\":[\"ent1\",\"ent2\"],\"expiry\":1900000100,\"token\":\"" +
                         IdTokenText() + "\"}");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/error"),
            "404 No error from last authentication.");

  // "expires_in" 3600: 90 to 30 seconds before the lifetime ends.
  const double delay = LoggedDelay(test, "Refreshing tokens in ");
  EXPECT_GE(delay, 3510.0);
  EXPECT_LT(delay, 3570.0);
  const auto scheduled = test.host().Scheduled();
  ASSERT_EQ(scheduled.size(), 1u);
  EXPECT_EQ(scheduled[0].label, "ulix-auth.refresh");
  EXPECT_NEAR(scheduled[0].delay_seconds, delay, 0.05);

  // The password grant names the platform and the user, and asks for the region's scopes.
  const auto calls = test.host().HttpCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().body,
            "client_id=pc-client&grant_type=password&username=NA1%7Cann&password=pw&scope=openid%"
            "20offline_access%20kiv%20ban%20profile%20email%20phone");
}

TEST(SignOn, FailuresKeepTheErrorAndAnswer400OnlyForAPlainInvalidRequest) {
  const struct {
    FakeHost::HttpAnswer reply;
    const char* answer;
    const char* error;
  } rows[] = {
      {{0, 418, ErrorBody("invalid_request", "bad_user")},
       "400 invalid_request: bad_user",
       R"({"error":"invalid_request","errorDescription":"bad_user"})"},
      {{0, 401, ErrorBody("invalid_request", "auth_failure")},
       "401 invalid_request: auth_failure",
       R"({"error":"invalid_request","errorDescription":"auth_failure"})"},
      {{0, 403, ErrorBody("invalid_request", "consent_required")},
       "403 invalid_request: consent_required",
       R"({"error":"invalid_request","errorDescription":"consent_required"})"},
      {{0, 409, ErrorBody("invalid_grant", "x")},
       "409 invalid_grant: x",
       R"({"error":"invalid_grant","errorDescription":"x"})"},
      {{1, 0, "refused"},
       "512 temporarily_unavailable: Unable to connect to server",
       R"({"error":"temporarily_unavailable","errorDescription":"Unable to connect to server"})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer);
    PluginTestHost test;
    test.Start();
    test.TakeChanges();
    const PluginTestHost::Reply reply = test.SignOn(row.reply);
    EXPECT_EQ(std::to_string(reply.status) + " " + reply.error, row.answer);
    EXPECT_THAT(test.TakeChanges(), IsEmpty());
    EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/error"), row.error);
    EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization"),
              "404 No authorization currently exists.");
    EXPECT_THAT(test.host().Scheduled(), IsEmpty());
  }
}

TEST_F(SignedOn, ASecondSignOnAnswers400AndChangesNothing) {
  const std::vector<std::string> urls = test_.service().RequestedUrls();
  EXPECT_EQ(test_.Text(kPost, "/ulix-auth/v1/authorization/gas", R"({"username":"bob"})"),
            "400 Tried to create an authorization when one already exists.");
  EXPECT_EQ(test_.service().RequestedUrls(), urls);
  EXPECT_THAT(test_.TakeChanges(), IsEmpty());
  EXPECT_EQ(test_.Text(kGet, "/ulix-auth/v1/authorization/error"),
            "404 No error from last authentication.");
  EXPECT_EQ(test_.host().Scheduled().size(), 1u);
}

TEST(SignOn, WithoutIdTokenSendsEmptyRecordsAndAnswersNotFoundLater) {
  PluginTestHost test;
  test.Start();
  test.TakeChanges();
  ASSERT_EQ(test.SignOn(TokenReply(AccessTokenFor(), 3600, /*with_id_token=*/false)).error, "");
  std::vector<std::string> data;
  test.TakeChanges(&data);
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[2], R"({"expiry":0,"token":""})");
  EXPECT_EQ(data[3], R"({"entitlements":[],"expiry":0,"token":""})");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/id-token"), "404 ID token not available.");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/entitlements-token"),
            "404 Entitlements not available.");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/gas-token"),
            "404 GAS token not available.");
}

TEST(SignOn, ServesTheDecodedGasToken) {
  PluginTestHost test;
  test.Start();
  FakeHost::HttpAnswer reply = TokenReply(AccessTokenFor());
  // base64url of {"gas":[1,2]}
  reply.body->insert(1, R"("gas_token":"eyJnYXMiOlsxLDJdfQ",)");
  ASSERT_EQ(test.SignOn(reply).error, "");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/gas-token"), R"({"gas":[1,2]})");
}

TEST_F(SignedOn, DeleteDropsTheAuthorizationEvenWhenRevocationFails) {
  test_.service().AnswerOnce(kRevokeUrl, {0, 400, ErrorBody("invalid_token", "gone")});
  EXPECT_EQ(test_.Text(kDelete, "/ulix-auth/v1/authorization"), "400 invalid_token: gone");
  EXPECT_THAT(test_.TakeChanges(), ElementsAre("Delete /ulix-auth/v1/authorization/userinfo",
                                               "Delete /ulix-auth/v1/authorization",
                                               "Delete /ulix-auth/v1/authorization/access-token",
                                               "Delete /ulix-auth/v1/authorization/id-token"));
  EXPECT_EQ(test_.Text(kGet, "/ulix-auth/v1/authorization"),
            "404 No authorization currently exists.");
  EXPECT_EQ(test_.Text(kGet, "/ulix-auth/v1/authorization/error"),
            R"({"error":"invalid_token","errorDescription":"gone"})");
  EXPECT_EQ(test_.LoggedLine("ULIXAuthPlugin::"), "ULIXAuthPlugin::HandleAuthorizationDelete()");

  // A successful revocation empties the error.
  ASSERT_EQ(test_.SignOn().error, "");
  test_.TakeChanges();
  EXPECT_EQ(test_.Text(kDelete, "/ulix-auth/v1/authorization"), "null");
  EXPECT_EQ(test_.TakeChanges().size(), 4u);
  EXPECT_EQ(test_.Text(kGet, "/ulix-auth/v1/authorization/error"),
            "404 No error from last authentication.");
  EXPECT_EQ(test_.Text(kDelete, "/ulix-auth/v1/authorization"),
            "404 No authorization currently exists.");
}

TEST_F(SignedOn, TimerRefreshUpdatesTheAccessTokenAndSchedulesTheNext) {
  test_.service().AnswerOnce(kTokenUrl, TokenReply(AccessTokenFor("player-2"), 7200));
  EXPECT_EQ(test_.Advance(3570), 1u);
  std::vector<std::string> data;
  EXPECT_THAT(test_.TakeChanges(&data),
              ElementsAre("Update /ulix-auth/v1/authorization/access-token"));
  EXPECT_NE(data[0].find(AccessTokenFor("player-2")), std::string::npos);
  EXPECT_EQ(test_.host().HttpCalls().back().body,
            "client_id=pc-client&grant_type=refresh_token&refresh_token=refresh%2F1");
  EXPECT_EQ(test_.LoggedLine("Refresh "), "Refresh successful.");
  const double delay = LoggedDelay(test_, "Refreshing tokens in ");
  EXPECT_GE(delay, 7110.0);
  EXPECT_LT(delay, 7170.0);
  EXPECT_EQ(test_.Text(kGet, "/ulix-auth/v1/authorization"),
            R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})");
}

TEST_F(SignedOn, RefreshRefusedBelow500DropsTheAuthorizationEverywhere) {
  test_.service().AnswerOnce(kTokenUrl, {0, 400, ErrorBody("invalid_grant", "expired")});
  EXPECT_EQ(test_.Text(kPost, "/ulix-auth/v1/authorization/refresh"),
            "400 Refresh failed - authorization should be deleted: invalid_grant - expired");
  EXPECT_THAT(test_.TakeChanges(),
              ElementsAre("Delete /ulix-auth/v1/authorization/userinfo",
                          "Delete /ulix-auth/v1/authorization",
                          "Delete /ulix-auth/v1/authorization/access-token",
                          "Delete /ulix-auth/v1/authorization/id-token",
                          "Delete /ulix-auth/v1/authorization/gas-token",
                          "Delete /ulix-auth/v1/authorization/entitlements-token"));
  EXPECT_EQ(test_.Text(kGet, "/ulix-auth/v1/authorization/error"),
            R"({"error":"invalid_grant","errorDescription":"expired"})");
  EXPECT_EQ(test_.LoggedLine("Refresh failed"),
            "Refresh failed - authorization should be deleted: invalid_grant - expired");
  // Only the sign-on's callback is pending; it finds nothing to refresh.
  EXPECT_EQ(test_.host().Scheduled().size(), 1u);
  test_.host().FireScheduled();
  EXPECT_EQ(test_.LoggedLine("Attempted"),
            "Attempted token refresh, but authorization no longer exists.");
  EXPECT_THAT(test_.TakeChanges(), IsEmpty());
}

TEST_F(SignedOn, RefreshFailuresFrom500OnRetryWithinTheDoublingCaps) {
  test_.service().Answer(kTokenUrl, {1, 0, "refused"});
  test_.host().FireScheduled();
  const double caps[] = {2, 4, 8, 16, 32, 64, 128, 256, 256, 256};
  for (double cap : caps) {
    SCOPED_TRACE(cap);
    const std::vector<std::string> log = test_.TakeLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[log.size() - 2],
              "3|Refresh failed due to error - should be retried: temporarily_unavailable - "
              "Unable to connect to server.");
    const std::string prefix = "3|Retrying authorization refresh in ";
    ASSERT_TRUE(log.back().starts_with(prefix)) << log.back();
    const double delay = std::stod(log.back().substr(prefix.size()));
    EXPECT_GE(delay, 0.0);
    EXPECT_LE(delay, cap);
    ASSERT_EQ(test_.Advance(cap), 1u);
  }
  EXPECT_EQ(
      test_.Text(kGet, "/ulix-auth/v1/authorization/error"),
      R"({"error":"temporarily_unavailable","errorDescription":"Unable to connect to server"})");
  EXPECT_THAT(test_.TakeChanges(), IsEmpty());

  // A success empties the error and starts the count again.
  test_.service().Answer(kTokenUrl, TokenReply(AccessTokenFor("player-2")));
  ASSERT_EQ(test_.Advance(256), 1u);
  EXPECT_EQ(test_.Text(kGet, "/ulix-auth/v1/authorization/error"),
            "404 No error from last authentication.");
  test_.service().Answer(kTokenUrl, {0, 503, ErrorBody("server_error", "busy")});
  EXPECT_EQ(test_.Text(kPost, "/ulix-auth/v1/authorization/refresh"),
            "503 Refresh failed due to error - should be retried: server_error - busy.");
  const double delay = LoggedDelay(test_, "Retrying authorization refresh in ");
  EXPECT_GE(delay, 0.0);
  EXPECT_LE(delay, 2.0);
}

TEST_F(SignedOn, ACallbackForReplacedTokensEndsInTheStaleTokenRule) {
  // Later than the sign-on, so that the manual refresh's callback falls due after the
  // sign-on's.
  EXPECT_EQ(test_.Advance(100), 0u);
  test_.service().AnswerOnce(kTokenUrl, TokenReply(AccessTokenFor("player-2")));
  EXPECT_EQ(test_.Text(kPost, "/ulix-auth/v1/authorization/refresh"),
            R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})");
  test_.TakeChanges();
  const auto scheduled = test_.host().Scheduled();
  ASSERT_EQ(scheduled.size(), 2u);  // the sign-on's callback and the manual refresh's
  const int token_requests = test_.service().RequestCount(kTokenUrl);
  test_.TakeLog();
  // The sign-on's callback still carries the first access token.
  EXPECT_EQ(test_.Advance(scheduled[0].due_seconds - test_.host().now_seconds() + 0.001), 1u);
  EXPECT_EQ(test_.LoggedLine("Attempted"),
            "Attempted token refresh, but authorization has already changed.");
  EXPECT_EQ(test_.service().RequestCount(kTokenUrl), token_requests);
  EXPECT_THAT(test_.TakeChanges(), IsEmpty());
}

TEST(Refresh, WithoutRefreshTokenSucceedsWithoutAsking) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn(TokenReply(AccessTokenFor(), 3600, true, /*refresh_token=*/false)).error,
            "");
  test.TakeChanges();
  const int token_requests = test.service().RequestCount(kTokenUrl);
  test.TakeLog();
  EXPECT_EQ(test.Advance(3570), 1u);
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), token_requests);
  EXPECT_THAT(test.TakeChanges(), ElementsAre("Update /ulix-auth/v1/authorization/access-token"));
  const double delay = LoggedDelay(test, "Refreshing tokens in ");
  EXPECT_GE(delay, 3510.0);
  EXPECT_LT(delay, 3570.0);
}

TEST(Refresh, ShortLifetimesAreRefreshedAfterHalfOfItButNotSoonerThanFiveSeconds) {
  const struct {
    int expires_in;
    double delay;
  } rows[] = {{0, 5.0}, {6, 5.0}, {20, 10.0}, {29, 14.5}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expires_in);
    PluginTestHost test;
    test.Start();
    test.service().Answer(kTokenUrl, TokenReply(AccessTokenFor(), row.expires_in));
    ASSERT_EQ(test.Send(kPost, "/ulix-auth/v1/authorization/gas", R"({"username":"a"})").error, "");
    EXPECT_EQ(LoggedDelay(test, "Refreshing tokens in "), row.delay);
    // A service that keeps handing out such sets is asked once per delay, not in a loop.
    test.TakeLog();
    EXPECT_EQ(test.Advance(row.delay + 0.001), 1u);
    ASSERT_EQ(test.host().Scheduled().size(), 1u);
    EXPECT_NEAR(test.host().Scheduled()[0].delay_seconds, row.delay, 1e-6);
  }
}

TEST(Configuration, TokenEndpointsOverrideTheRegionUntilDeleted) {
  PluginTestHost test;
  test.Start();
  const std::string region_status =
      R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})";
  ASSERT_EQ(test.Text(kGet, "/ulix-auth/v1/status/NA1"), region_status);
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), "404 ULIX settings not found.");

  // No token: nothing changes.
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/config", "{}"), "null");
  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v1/config"), "404 No config to delete.");
  // A token whose claims do not parse.
  EXPECT_EQ(test.Text(kPut, "/ulix-auth/v1/config", "{\"token\":\"" + ServiceToken("[1]") + "\"}"),
            "400 Invalid configuration token: Unexpected token: [");
  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v1/config"), "404 No config to delete.");

  test.service().Answer("https://jwt.test/.well-known/openid-configuration",
                        {0, 200, R"({"vorn_kiv_regions_supported":["NA1"]})"});
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/config", "{\"token\":\"" + ConfigToken() + "\"}"),
            "null");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/EUW1"), "{\"token\":\"" + ConfigToken() + "\"}");
  EXPECT_EQ(
      test.Text(kGet, "/ulix-auth/v1/status/NA1"),
      R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":false,"platformId":"NA1"})");
  test.service().Answer("https://jwt.test/token", TokenReply(AccessTokenFor()));
  ASSERT_EQ(test.Send(kPost, "/ulix-auth/v1/authorization/gas", R"({"username":"a"})").error, "");
  EXPECT_TRUE(test.host().HttpCalls().back().body.starts_with(
      "client_assertion_type=urn%3Aietf%3Aparams%3Aoauth%3Aclient-assertion-type%3Ajwt-bearer&"
      "client_assertion="));

  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v1/config"), "null");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/status/NA1"), region_status);
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), "404 ULIX settings not found.");
}

TEST(Configuration, PublicClientOverrideNeverAllowsFallback) {
  PluginTestHost test;
  test.Start();
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v2/config",
                      R"({"url":"https://auth.test","clientId":"v2","isLQFallbackAllowed":true})"),
            "null");
  EXPECT_EQ(
      test.Text(kGet, "/ulix-auth/v1/status/NA1"),
      R"({"enabled":true,"isLQFallbackAllowed":false,"isUserInfoEnabled":true,"platformId":"NA1"})");
  ASSERT_EQ(test.SignOn().error, "");
  EXPECT_TRUE(test.host().HttpCalls().back().body.starts_with("client_id=v2&"));
  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v2/config"), "null");
  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v2/config"), "404 No config to delete.");
}

TEST(Configuration, RegionTokenForADisabledPlatformAnswersWithoutToken) {
  PluginTestHost test;
  test.SetRegionSettings(FakeValue::Object({{"token", FakeValue::Text(ConfigToken())}}));
  test.service().Answer(
      "https://jwt.test/.well-known/openid-configuration",
      {0, 200,
       R"({"vorn_kiv_regions_supported":["NA1","EUW1"],"vorn_kiv_regions_disabled":["EUW1"]})"});
  test.Start();
  test.TakeLog();
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), "{\"token\":\"" + ConfigToken() + "\"}");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/EUW1"), R"({"token":null})");
  EXPECT_EQ(test.LoggedLine("ULIX configuration requested"),
            "ULIX configuration requested, but server disabled ULIX for this region.");
}

TEST(Configuration, StatusBeforeTheConfigurationIsAppliedIsAnInternalError) {
  PluginTestHost test;
  test.Start(/*apply=*/false);
  test.TakeLog();
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/status/NA1"),
            "500 Cannot determine if LQ fallback is allowed. ULIXClient failed with: No "
            "configuration applied");
  EXPECT_THAT(test.TakeLog(), ElementsAre("2|ulix-auth: No configuration applied"));
}

TEST(DeviceId, NeedsKountAndTheServicesFrame) {
  PluginTestHost test;
  test.service().Answer(kDiscoveryUrl, {0, 200, R"({"vorn_kiv_regions_supported":["NA1"]})"});
  test.Start();
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/device-id"), "404 Device ID not available.");
  PluginTestHost no_kount;
  no_kount.SetRegionSettings(
      FakeValue::Object({{"client", FakeValue::Text("c")}, {"url", FakeValue::Text(kServiceUrl)}}));
  no_kount.Start();
  EXPECT_EQ(no_kount.Text(kPost, "/ulix-auth/v1/device-id"), "404 Device ID not available.");
}

TEST(UserInfo, FetchPublishesAndCaches) {
  PluginTestHost test;
  test.Start();
  test.TakeChanges();
  // Nothing to ask with: the event carries an empty document and the answer is GET's 404.
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/authorization/userinfo"),
            "404 No UserInfo currently exists. Are you logged in?");
  std::vector<std::string> data;
  EXPECT_THAT(test.TakeChanges(&data), ElementsAre("Create /ulix-auth/v1/authorization/userinfo"));
  EXPECT_EQ(data[0], R"({"userInfo":""})");

  ASSERT_EQ(test.SignOn().error, "");
  test.TakeChanges();
  test.service().AnswerOnce(kUserInfoUrl, {0, 200, R"({"sub":"player-1"})"});
  const std::string expected = R"({"userInfo":"{\"sub\":\"player-1\"}"})";
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/authorization/userinfo"), expected);
  data.clear();
  EXPECT_THAT(test.TakeChanges(&data), ElementsAre("Create /ulix-auth/v1/authorization/userinfo"));
  EXPECT_EQ(data[0], expected);
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/userinfo"), expected);

  // A failure keeps the cached document and leaves the last sign-on error alone.
  test.service().AnswerOnce(kUserInfoUrl, {0, 401, ""});
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/authorization/userinfo"), "401 Error: Error");
  EXPECT_THAT(test.TakeChanges(), IsEmpty());
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/userinfo"), expected);
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/error"),
            "404 No error from last authentication.");

  // Sign-off drops it.
  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v1/authorization"), "null");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization/userinfo"),
            "404 No UserInfo currently exists. Are you logged in?");
}

FakeValue ManagerEvent(const char* type, const char* state) {
  return FakeValue::Object({{"uri", FakeValue::Text("/plugin-manager/v1/status")},
                            {"eventType", FakeValue::Text(type)},
                            {"data", FakeValue::Object({{"state", FakeValue::Text(state)}})}});
}

TEST(CommandLineSignOn, RunsWhenThePluginManagerReportsItsPluginsInitialized) {
  PluginTestHost test;
  test.SetCommandLine(
      {"--ulix-auth.username=ann", "--ulix-auth.password=pw", "--ulix-auth.platform=NA1"});
  test.Start();
  test.TakeChanges();
  test.service().Answer(kTokenUrl, TokenReply(AccessTokenFor()));
  const char* const name = "OnJsonApiEvent_plugin-manager_v1_status";
  test.host().Deliver(name, ManagerEvent("Update", "NotReady"));
  test.host().Deliver(name, ManagerEvent("Delete", "PluginsInitialized"));
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 0);
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/authorization"),
            "404 No authorization currently exists.");

  test.host().Deliver(name, ManagerEvent("Update", "PluginsInitialized"));
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 1);
  EXPECT_EQ(test.TakeChanges().size(), 4u);
  EXPECT_TRUE(test.host().HttpCalls().back().body.starts_with(
      "client_id=pc-client&grant_type=password&username=NA1%7Cann&password=pw&"));
  // A later report meets the existing authorization: no second request.
  test.host().Deliver(name, ManagerEvent("Create", "PluginsInitialized"));
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 1);
}

TEST(CommandLineSignOn, NeedsAllThreeCredentials) {
  PluginTestHost test;
  test.SetCommandLine({"--ulix-auth.username=ann", "--ulix-auth.password=pw"});
  test.Start();
  test.host().Deliver("OnJsonApiEvent_plugin-manager_v1_status",
                      ManagerEvent("Update", "PluginsInitialized"));
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 0);
}

TEST(Reentrancy, HostCallsBackFromInsideAnExchangeAndAnEventDelivery) {
  PluginTestHost test;
  test.Start();
  // The host answers a request of the plug-in's on the thread that is waiting for its
  // sign-on exchange.
  std::vector<std::string> inside;
  test.service().OnExchange([&](const std::string& url, const std::string&) {
    if (url == kTokenUrl) inside.push_back(test.Text(kGet, "/ulix-auth/v1/authorization"));
  });
  // And delivers the plug-in's own change events to it synchronously, inside the send.
  test.plugin().observeResource(
      "/ulix-auth/v1/authorization/access-token",
      [&](const Vorn::Client::PluginResourceEvent& event) {
        inside.push_back(test.Text(kGet, "/ulix-auth/v1/authorization/access-token"));
      });
  ASSERT_EQ(test.SignOn().error, "");
  ASSERT_EQ(inside.size(), 2u);
  EXPECT_EQ(inside[0], "404 No authorization currently exists.");
  EXPECT_EQ(inside[1], "{\"expiry\":1900000000,\"scopes\":[\"openid\",\"kiv\"],\"token\":\"" +
                           AccessTokenFor() + "\"}");

  // A refresh asked for from inside a refresh's exchange does not start a second one.
  inside.clear();
  test.service().Answer(kTokenUrl, TokenReply(AccessTokenFor("player-2")));
  test.service().OnExchange([&](const std::string& url, const std::string&) {
    if (url == kTokenUrl) {
      inside.push_back(test.Text(kPost, "/ulix-auth/v1/authorization/refresh"));
    }
  });
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/authorization/refresh"),
            R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})");
  // Then the observer sees the refresh's Update.
  ASSERT_EQ(inside.size(), 2u);
  EXPECT_EQ(inside[0], "409 Access token has changed, refresh already occurred.");
}
}  // namespace
}  // namespace ulix_auth
