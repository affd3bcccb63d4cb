// The sign-on plug-in driven as a host drives it: endpoint records chosen from its catalogue,
// events and log lines read from the fake host, the sign-on service answering per URL. The order
// tests read the test host's transcript, which holds every host call (log lines, events, timers,
// exchanges) in the order the host received them.
#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth {
namespace {

using ::testing::_;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Ge;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Le;
using ::testing::Lt;
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

constexpr const char* kAuthorization = "/ulix-auth/v1/authorization";
constexpr const char* kGas = "/ulix-auth/v1/authorization/gas";
constexpr const char* kRefresh = "/ulix-auth/v1/authorization/refresh";
constexpr const char* kError = "/ulix-auth/v1/authorization/error";
constexpr const char* kNoAuthorization = "404 No authorization currently exists.";
constexpr const char* kNoError = "404 No error from last authentication.";
constexpr const char* kStatus = "/ulix-auth/v1/status/NA1";
constexpr const char* kPlayer2 =
    R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})";

FakeValue Text(std::string text) { return FakeValue::Text(std::move(text)); }
FakeValue Object(std::vector<std::pair<std::string, FakeValue>> entries) {
  return FakeValue::Object(std::move(entries));
}

// The status record of NA1.
std::string Status(bool enabled, bool fallback, bool user_info) {
  const auto flag = [](bool on) { return on ? "true" : "false"; };
  return std::string(R"({"enabled":)") + flag(enabled) + R"(,"isLQFallbackAllowed":)" +
         flag(fallback) + R"(,"isUserInfoEnabled":)" + flag(user_info) + R"(,"platformId":"NA1"})";
}
const std::string kRegionStatus = Status(true, true, true);

// The answers to GET of each of `records` under the authorization.
std::vector<std::string> Reads(PluginTestHost& test, std::vector<std::string> records) {
  for (std::string& record : records) {
    record = test.Text(kGet, "/ulix-auth/v1/authorization/" + record);
  }
  return records;
}

// The access-token record of AccessTokenFor(`subject`).
std::string AccessTokenRecord(std::string_view subject = "player-1") {
  return R"({"expiry":1900000000,"scopes":["openid","kiv"],"token":")" + AccessTokenFor(subject) +
         "\"}";
}

TEST(Registration, TokenReadsAndRefreshWithoutAnAuthorizationAnswerNotFound) {
  PluginTestHost test;
  test.Start();
  // The other endpoints' answers without an authorization are read by the tests below.
  EXPECT_THAT(Reads(test, {"access-token", "entitlements-token", "id-token", "gas-token"}),
              ::testing::Each(kNoAuthorization));
  EXPECT_EQ(test.Text(kPost, kRefresh), kNoAuthorization);
  EXPECT_THAT(test.TakeEvents(), IsEmpty());
}

TEST(ConfigurationSources, LogEveryLoadThatFails) {
  const FakeValue install = Object({{"install-identifier", Text("i")}});
  const FakeValue public_client = Object({{"client", Text("c")},
                                          {"url", Text(kServiceUrl)},
                                          {"allow_lq_fallback", FakeValue::Bool(true)}});
  const FakeValue with_kount = Object({{"client", Text("c")},
                                       {"url", Text(kServiceUrl)},
                                       {"allow_lq_fallback", FakeValue::Bool(true)},
                                       {"kount", Object({{"merchant", Text("m")}})}});
  const struct {
    const char* name;
    std::vector<std::string> command_line;
    std::optional<FakeValue> install;
    std::optional<FakeValue> region;
    std::vector<std::string> log;
  } rows[] = {
      // clang-format off
      {"nothing found", {}, std::nullopt, std::nullopt,
       {"3|Could not load local ULIX settings.", "3|ULIX settings not found."}},
      {"disabled reads nothing else", {"--ulix-auth.disabled"}, std::nullopt, std::nullopt,
       {"3|Using ULIX disabled via command line argument"}},
      {"region without a client", {}, install,
       Object({{"allow_lq_fallback", FakeValue::Bool(false)}, {"kount", Object({})}}),
       {"3|ULIX settings invalid."}},
      {"token without fallback flag, Kount without merchant", {}, install,
       Object({{"token", Text(ConfigToken())}, {"kount", Object({{"merchants", Text("m")}})}}),
       {"1|ulix-auth: LQ fallback settings not found", "3|Kount settings invalid."}},
      {"no Kount", {}, install, public_client, {"3|Kount settings not found."}},
      {"configuration tokens that do not parse are ignored",
       {"--ulix-auth.token=" + ServiceToken("[1]")}, install,
       Object({{"allow_lq_fallback", FakeValue::Bool(true)},
               {"token", Text(ServiceToken("{\"a\":1,\"a\":2}"))}}),
       {"3|Using ULIX config from token " + ServiceToken("[1]"),
        "3|Invalid configuration token: Unexpected token: [",
        "3|Invalid configuration token: Object member already exists: a",
        "3|Kount settings not found."}},
      {"Kount without install settings", {}, std::nullopt, with_kount,
       {"3|Could not load local ULIX settings.",
        "3|Could not load local ULIX settings, cannot configure Kount."}},
      // clang-format on
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
  EXPECT_EQ(test.Text(kGet, kStatus), "404 ULIX not configured.");
  EXPECT_EQ(test.Text(kPost, kGas, R"({"username":"a"})"), "500 Invalid ULIX Config.");
  EXPECT_EQ(test.LoggedLine("ULIX not configured,"),
            "ULIX not configured, but ULIX authorization requested.");
}

// The 32 hex digits of the text member `member` of `json`, or "".
std::string HexOf(const std::string& json, const std::string& member) {
  std::smatch match;
  std::regex_search(json, match, std::regex("\"" + member + "\":\"([0-9a-f]{32})\""));
  return match.empty() ? "" : match[1].str();
}

TEST(ConfigurationSources, WritesTheInstallIdentifierOnceAndServesItWithAFreshKountSession) {
  std::string sessions[2];
  for (std::string& session : sessions) {
    PluginTestHost test;
    test.SetInstallSettings(Object({{"other", Text("kept")}}));
    test.Start();
    std::vector<std::string> writes;
    for (const auto& call : test.host().ResourceCalls()) {
      if (call.method == kPost && call.path == "/data-store/v1/install-settings/ulix-auth") {
        ASSERT_EQ(call.arguments.size(), 1u);
        writes.push_back(call.arguments[0].second.Json());
      }
    }
    // {"install-identifier":"<32 hex digits>","other":"kept"} in some member order.
    ASSERT_EQ(writes.size(), 1u);
    const std::string identifier = HexOf(writes[0], "install-identifier");
    ASSERT_NE(identifier, "") << writes[0];
    EXPECT_THAT(writes[0], HasSubstr("\"other\":\"kept\""));

    const std::string device = test.Text(kPost, "/ulix-auth/v1/device-id");
    session = HexOf(device, "sessionId");
    EXPECT_EQ(device,
              R"({"collectorServerName":"","frameUrl":"https://did.test/frame","installId":")" +
                  identifier + R"(","merchantId":"m-1","sessionId":")" + session + "\"}");
    EXPECT_NE(session, "");
  }
  EXPECT_NE(sessions[0], sessions[1]);
}

TEST(ConfigurationSources, AnIdentifierTheHostDoesNotStoreLeavesKountUnconfigured) {
  PluginTestHost test;
  test.SetInstallSettings(Object({}));
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
  test.SetRegionSettings(Object({{"additional_scopes", Text("lol vip")},
                                 {"client", Text("pc-client")},
                                 {"url", Text(kServiceUrl)}}));
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  EXPECT_EQ(test.host().HttpCalls().back().url, kTokenUrl);
  EXPECT_TRUE(test.host().HttpCalls().back().body.ends_with(
      "&scope=openid%20offline_access%20kiv%20ban%20profile%20email%20phone%20lol%20vip"));

  // The command line is read before the region settings.
  PluginTestHost command_line;
  command_line.SetCommandLine({"--ulix-auth.url=https://auth.test", "--ulix-auth.client=cmd"});
  command_line.SetRegionSettings(
      Object({{"additional_scopes", Text("lol")}, {"token", Text(ConfigToken())}}));
  command_line.Start();
  ASSERT_EQ(command_line.SignOn().error, "");
  EXPECT_TRUE(command_line.host().HttpCalls().back().body.ends_with("%20email%20phone"));
}

TEST(ConfigurationSources, CommandLineOverridesTheRegionAndPublicClientBeatsToken) {
  // Url, client and token: the public client, and no override token.
  PluginTestHost test;
  test.SetRegionSettings(std::nullopt);
  test.SetCommandLine(
      {"--ulix-auth.url=https://auth.test", "--ulix-auth.client=cmd", "--ulix-auth.token=x.y.z"});
  test.Start();
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), "404 ULIX settings not found.");
  EXPECT_EQ(test.Text(kGet, kStatus), kRegionStatus);
  EXPECT_EQ(test.LoggedLine("Using ULIX"),
            "Using ULIX public client config from commandline: client cmd, url https://auth.test");

  // Url without client: the token.
  PluginTestHost token;
  token.SetRegionSettings(std::nullopt);
  token.SetCommandLine({"--ulix-auth.url=https://auth.test", "--ulix-auth.token=" + ConfigToken(),
                        "--ulix-auth.required"});
  token.Start();
  EXPECT_EQ(token.Text(kGet, "/ulix-auth/v1/config/NA1"), "{\"token\":\"" + ConfigToken() + "\"}");
  EXPECT_EQ(token.Text(kGet, kStatus), Status(false, false, false));
}

// The delay of the last log line "<prefix><seconds> seconds...", or -1.
double LoggedDelay(const PluginTestHost& test, std::string_view prefix = "Refreshing tokens in ") {
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
  test.Send(kPost, kGas, R"({"username":"x"})");
  ASSERT_EQ(
      test.Text(kGet, kError),
      R"({"error":"temporarily_unavailable","errorDescription":"Unable to connect to server"})");
  test.TakeChanges();

  PluginTestHost::Reply reply = test.SignOn();
  EXPECT_EQ(reply.error, "");
  EXPECT_EQ(reply.json,
            R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-1"})");
  // The changes' order: EventOrder below.
  std::vector<std::string> data;
  test.TakeChanges(&data);
  const std::string id_token = R"("expiry":1900000100,"token":")" + IdTokenText() + "\"}";
  EXPECT_THAT(data, ElementsAre(reply.json, AccessTokenRecord(), "{" + id_token,
                                R"({"entitlements":["ent1","ent2"],)" + id_token));
  EXPECT_EQ(data[1], test.Text(kGet, "/ulix-auth/v1/authorization/access-token"));
  EXPECT_EQ(test.Text(kGet, kError), kNoError);

  // "expires_in" 3600: 90 to 30 seconds before the lifetime ends.
  const double delay = LoggedDelay(test);
  EXPECT_THAT(delay, AllOf(Ge(3510.0), Lt(3570.0)));
  const auto scheduled = test.host().Scheduled();
  ASSERT_EQ(scheduled.size(), 1u);
  EXPECT_EQ(scheduled[0].label, "ulix-auth.refresh");
  EXPECT_NEAR(scheduled[0].delay_seconds, delay, 0.05);
  // The password grant names the platform and the user, and asks for the region's scopes.
  EXPECT_EQ(test.host().HttpCalls().back().body,
            "client_id=pc-client&grant_type=password&username=NA1%7Cann&password=pw&scope=openid%"
            "20offline_access%20kiv%20ban%20profile%20email%20phone");
}

TEST(SignOn, FailuresKeepTheErrorAndAnswer400OnlyForAPlainInvalidRequest) {
  const struct {
    std::uint32_t answered;  // 0: the service is unreachable
    const char* error;
    const char* description;
    std::uint32_t status;
  } rows[] = {
      {418, "invalid_request", "bad_user", 400},
      {401, "invalid_request", "auth_failure", 401},
      {403, "invalid_request", "consent_required", 403},
      {409, "invalid_grant", "x", 409},
      {0, "temporarily_unavailable", "Unable to connect to server", 512},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    PluginTestHost test;
    test.Start();
    test.TakeChanges();
    const PluginTestHost::Reply reply = test.SignOn(
        row.answered == 0
            ? FakeHost::HttpAnswer{1, 0, "refused"}
            : FakeHost::HttpAnswer{0, row.answered, ErrorBody(row.error, row.description)});
    EXPECT_EQ(reply.status, row.status);
    EXPECT_EQ(reply.error, std::string(row.error) + ": " + row.description);
    EXPECT_THAT(test.TakeChanges(), IsEmpty());
    EXPECT_EQ(test.Text(kGet, kError), std::string(R"({"error":")") + row.error +
                                           R"(","errorDescription":")" + row.description + "\"}");
    EXPECT_EQ(test.Text(kGet, kAuthorization), kNoAuthorization);
    EXPECT_THAT(test.host().Scheduled(), IsEmpty());
  }
}

TEST_F(SignedOn, ASecondSignOnAnswers400AndChangesNothing) {
  const std::vector<std::string> urls = test_.service().RequestedUrls();
  EXPECT_EQ(test_.Text(kPost, kGas, R"({"username":"bob"})"),
            "400 Tried to create an authorization when one already exists.");
  EXPECT_EQ(test_.service().RequestedUrls(), urls);
  EXPECT_THAT(test_.TakeChanges(), IsEmpty());
  EXPECT_EQ(test_.Text(kGet, kError), kNoError);
  EXPECT_EQ(test_.host().Scheduled().size(), 1u);
}

TEST(SignOn, WithoutIdTokenSendsEmptyRecordsAndServesOnlyTheGasToken) {
  PluginTestHost test;
  test.Start();
  test.TakeChanges();
  FakeHost::HttpAnswer reply = TokenReply(AccessTokenFor(), 3600, /*with_id_token=*/false);
  // base64url of {"gas":[1,2]}
  reply.body->insert(1, R"("gas_token":"eyJnYXMiOlsxLDJdfQ",)");
  ASSERT_EQ(test.SignOn(reply).error, "");
  std::vector<std::string> data;
  test.TakeChanges(&data);
  EXPECT_THAT(data, ElementsAre(_, _, R"({"expiry":0,"token":""})",
                                R"({"entitlements":[],"expiry":0,"token":""})"));
  EXPECT_THAT(Reads(test, {"id-token", "entitlements-token", "gas-token"}),
              ElementsAre("404 ID token not available.", "404 Entitlements not available.",
                          R"({"gas":[1,2]})"));
  PluginTestHost no_gas;
  no_gas.Start();
  ASSERT_EQ(no_gas.SignOn().error, "");
  EXPECT_THAT(Reads(no_gas, {"gas-token"}), ElementsAre("404 GAS token not available."));
}

TEST_F(SignedOn, DeleteDropsTheAuthorizationEvenWhenRevocationFails) {
  test_.service().AnswerOnce(kRevokeUrl, {0, 400, ErrorBody("invalid_token", "gone")});
  EXPECT_EQ(test_.Text(kDelete, kAuthorization), "400 invalid_token: gone");
  EXPECT_EQ(test_.TakeChanges().size(), 4u);  // their order: EventOrder below
  EXPECT_EQ(test_.Text(kGet, kAuthorization), kNoAuthorization);
  EXPECT_EQ(test_.Text(kGet, kError), R"({"error":"invalid_token","errorDescription":"gone"})");

  // A successful revocation empties the error.
  ASSERT_EQ(test_.SignOn().error, "");
  test_.TakeChanges();
  EXPECT_EQ(test_.Text(kDelete, kAuthorization), "null");
  EXPECT_EQ(test_.TakeChanges().size(), 4u);
  EXPECT_EQ(test_.Text(kGet, kError), kNoError);
  EXPECT_EQ(test_.Text(kDelete, kAuthorization), kNoAuthorization);
}

TEST_F(SignedOn, TimerRefreshUpdatesTheAccessTokenAndSchedulesTheNext) {
  test_.service().AnswerOnce(kTokenUrl, TokenReply(AccessTokenFor("player-2"), 7200));
  EXPECT_EQ(test_.Advance(3570), 1u);
  std::vector<std::string> data;
  EXPECT_THAT(test_.TakeChanges(&data),
              ElementsAre("Update /ulix-auth/v1/authorization/access-token"));
  EXPECT_EQ(data[0], AccessTokenRecord("player-2"));
  EXPECT_EQ(test_.host().HttpCalls().back().body,
            "client_id=pc-client&grant_type=refresh_token&refresh_token=refresh%2F1");
  EXPECT_THAT(LoggedDelay(test_), AllOf(Ge(7110.0), Lt(7170.0)));
  EXPECT_EQ(test_.Text(kGet, kAuthorization), kPlayer2);
}

TEST_F(SignedOn, RefreshRefusedBelow500DropsTheAuthorizationEverywhere) {
  test_.service().AnswerOnce(kTokenUrl, {0, 400, ErrorBody("invalid_grant", "expired")});
  EXPECT_EQ(test_.Text(kPost, kRefresh),
            "400 Refresh failed - authorization should be deleted: invalid_grant - expired");
  EXPECT_EQ(test_.TakeChanges().size(), 6u);  // their order: EventOrder below
  EXPECT_EQ(test_.Text(kGet, kError), R"({"error":"invalid_grant","errorDescription":"expired"})");
  // Only the sign-on's callback is pending; it finds nothing to refresh.
  EXPECT_EQ(test_.host().Scheduled().size(), 1u);
  test_.host().FireScheduled();
  EXPECT_EQ(test_.LoggedLine("Attempted"),
            "Attempted token refresh, but authorization no longer exists.");
  EXPECT_THAT(test_.TakeChanges(), IsEmpty());
}

const std::string kRetrying = "Retrying authorization refresh in ";

TEST_F(SignedOn, RefreshFailuresFrom500OnRetryWithinTheDoublingCaps) {
  test_.service().Answer(kTokenUrl, {1, 0, "refused"});
  test_.host().FireScheduled();
  for (double cap : {2, 4, 8, 16, 32, 64, 128, 256, 256, 256}) {
    SCOPED_TRACE(cap);
    // This attempt's lines, the last two of the log.
    const std::vector<std::string> log = test_.TakeLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2],
              "3|Refresh failed due to error - should be retried: temporarily_unavailable - "
              "Unable to connect to server.");
    ASSERT_TRUE(log.back().starts_with("3|" + kRetrying)) << log.back();
    EXPECT_THAT(std::stod(log.back().substr(kRetrying.size() + 2)), AllOf(Ge(0.0), Le(cap)));
    ASSERT_EQ(test_.Advance(cap), 1u);
  }
  EXPECT_EQ(
      test_.Text(kGet, kError),
      R"({"error":"temporarily_unavailable","errorDescription":"Unable to connect to server"})");
  EXPECT_THAT(test_.TakeChanges(), IsEmpty());

  // A success empties the error and starts the count again.
  test_.service().Answer(kTokenUrl, TokenReply(AccessTokenFor("player-2")));
  ASSERT_EQ(test_.Advance(256), 1u);
  EXPECT_EQ(test_.Text(kGet, kError), kNoError);
  test_.service().Answer(kTokenUrl, {0, 500, ErrorBody("server_error", "busy")});
  EXPECT_EQ(test_.Text(kPost, kRefresh),
            "500 Refresh failed due to error - should be retried: server_error - busy.");
  EXPECT_THAT(LoggedDelay(test_, kRetrying), AllOf(Ge(0.0), Le(2.0)));

  // Signing off forgets the error a retried refresh left.
  EXPECT_EQ(test_.Text(kDelete, kAuthorization), "null");
  EXPECT_EQ(test_.Text(kGet, kError), kNoError);
}

TEST_F(SignedOn, ACallbackForReplacedTokensEndsInTheStaleTokenRule) {
  // Later than the sign-on, so that the manual refresh's callback falls due after the
  // sign-on's.
  EXPECT_EQ(test_.Advance(100), 0u);
  test_.service().AnswerOnce(kTokenUrl, TokenReply(AccessTokenFor("player-2")));
  EXPECT_EQ(test_.Text(kPost, kRefresh), kPlayer2);
  test_.TakeChanges();
  const auto scheduled = test_.host().Scheduled();
  ASSERT_EQ(scheduled.size(), 2u);  // the sign-on's callback and the manual refresh's
  const int token_requests = test_.service().RequestCount(kTokenUrl);
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
  EXPECT_THAT(LoggedDelay(test), AllOf(Ge(3510.0), Lt(3570.0)));
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
    ASSERT_EQ(test.Send(kPost, kGas, R"({"username":"a"})").error, "");
    EXPECT_EQ(LoggedDelay(test), row.delay);
    // A service that keeps handing out such sets is asked once per delay, not in a loop.
    EXPECT_EQ(test.Advance(row.delay + 0.001), 1u);
    ASSERT_EQ(test.host().Scheduled().size(), 1u);
    EXPECT_NEAR(test.host().Scheduled()[0].delay_seconds, row.delay, 1e-6);
  }
}

TEST(Configuration, TokenEndpointsOverrideTheRegionUntilDeleted) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.Text(kGet, kStatus), kRegionStatus);
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
  EXPECT_EQ(test.Text(kGet, kStatus), Status(true, true, false));
  test.service().Answer("https://jwt.test/token", TokenReply(AccessTokenFor()));
  ASSERT_EQ(test.Send(kPost, kGas, R"({"username":"a"})").error, "");
  EXPECT_TRUE(test.host().HttpCalls().back().body.starts_with(
      "client_assertion_type=urn%3Aietf%3Aparams%3Aoauth%3Aclient-assertion-type%3Ajwt-bearer&"
      "client_assertion="));

  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v1/config"), "null");
  EXPECT_EQ(test.Text(kGet, kStatus), kRegionStatus);
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), "404 ULIX settings not found.");
}

TEST(Configuration, PublicClientOverrideNeverAllowsFallback) {
  PluginTestHost test;
  test.Start();
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v2/config",
                      R"({"url":"https://auth.test","clientId":"v2","isLQFallbackAllowed":true})"),
            "null");
  EXPECT_EQ(test.Text(kGet, kStatus), Status(true, false, true));
  ASSERT_EQ(test.SignOn().error, "");
  EXPECT_TRUE(test.host().HttpCalls().back().body.starts_with("client_id=v2&"));
  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v2/config"), "null");
  EXPECT_EQ(test.Text(kDelete, "/ulix-auth/v2/config"), "404 No config to delete.");
}

TEST(Configuration, RegionTokenForADisabledPlatformAnswersWithoutToken) {
  PluginTestHost test;
  test.SetRegionSettings(Object({{"token", Text(ConfigToken())}}));
  test.service().Answer(
      "https://jwt.test/.well-known/openid-configuration",
      {0, 200,
       R"({"vorn_kiv_regions_supported":["NA1","EUW1"],"vorn_kiv_regions_disabled":["EUW1"]})"});
  test.Start();
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), "{\"token\":\"" + ConfigToken() + "\"}");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/EUW1"), R"({"token":null})");
  EXPECT_EQ(test.LoggedLine("ULIX configuration requested"),
            "ULIX configuration requested, but server disabled ULIX for this region.");
}

TEST(Configuration, StatusBeforeTheConfigurationIsAppliedIsAnInternalError) {
  PluginTestHost test;
  test.Start(/*apply=*/false);
  test.TakeLog();
  EXPECT_EQ(test.Text(kGet, kStatus),
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
  no_kount.SetRegionSettings(Object({{"client", Text("c")}, {"url", Text(kServiceUrl)}}));
  no_kount.Start();
  EXPECT_EQ(no_kount.Text(kPost, "/ulix-auth/v1/device-id"), "404 Device ID not available.");
}

TEST(UserInfo, FetchPublishesAndCaches) {
  const std::string path = "/ulix-auth/v1/authorization/userinfo";
  PluginTestHost test;
  test.Start();
  test.TakeChanges();
  // Nothing to ask with: the event carries an empty document and the answer is GET's 404.
  EXPECT_EQ(test.Text(kPost, path), "404 No UserInfo currently exists. Are you logged in?");
  std::vector<std::string> data;
  EXPECT_THAT(test.TakeChanges(&data), ElementsAre("Create " + path));
  EXPECT_EQ(data[0], R"({"userInfo":""})");

  ASSERT_EQ(test.SignOn().error, "");
  test.TakeChanges();
  test.service().AnswerOnce(kUserInfoUrl, {0, 200, R"({"sub":"player-1"})"});
  const std::string expected = R"({"userInfo":"{\"sub\":\"player-1\"}"})";
  EXPECT_EQ(test.Text(kPost, path), expected);
  data.clear();
  EXPECT_THAT(test.TakeChanges(&data), ElementsAre("Create " + path));
  EXPECT_EQ(data[0], expected);
  EXPECT_EQ(test.Text(kGet, path), expected);

  // A failure keeps the cached document and leaves the last sign-on error alone.
  test.service().AnswerOnce(kUserInfoUrl, {0, 401, ""});
  EXPECT_EQ(test.Text(kPost, path), "401 Error: Error");
  EXPECT_THAT(test.TakeChanges(), IsEmpty());
  EXPECT_EQ(test.Text(kGet, path), expected);
  EXPECT_EQ(test.Text(kGet, kError), kNoError);

  // Sign-off drops it.
  EXPECT_EQ(test.Text(kDelete, kAuthorization), "null");
  EXPECT_EQ(test.Text(kGet, path), "404 No UserInfo currently exists. Are you logged in?");
}

void ReportManagerState(PluginTestHost& test, const char* type, const char* state) {
  test.host().Deliver("OnJsonApiEvent_plugin-manager_v1_status",
                      Object({{"uri", Text("/plugin-manager/v1/status")},
                              {"eventType", Text(type)},
                              {"data", Object({{"state", Text(state)}})}}));
}

TEST(CommandLineSignOn, RunsWhenThePluginManagerReportsItsPluginsInitialized) {
  PluginTestHost test;
  test.SetCommandLine(
      {"--ulix-auth.username=ann", "--ulix-auth.password=pw", "--ulix-auth.platform=NA1"});
  test.Start();
  test.TakeChanges();
  test.service().Answer(kTokenUrl, TokenReply(AccessTokenFor()));
  ReportManagerState(test, "Update", "NotReady");
  ReportManagerState(test, "Delete", "PluginsInitialized");
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 0);
  EXPECT_EQ(test.Text(kGet, kAuthorization), kNoAuthorization);

  ReportManagerState(test, "Update", "PluginsInitialized");
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 1);
  EXPECT_EQ(test.TakeChanges().size(), 4u);
  EXPECT_TRUE(test.host().HttpCalls().back().body.starts_with(
      "client_id=pc-client&grant_type=password&username=NA1%7Cann&password=pw&"));
  // A later report meets the existing authorization: no second request.
  ReportManagerState(test, "Create", "PluginsInitialized");
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 1);

  // Without all three credentials there is nothing to sign on with.
  PluginTestHost two;
  two.SetCommandLine({"--ulix-auth.username=ann", "--ulix-auth.password=pw"});
  two.Start();
  ReportManagerState(two, "Update", "PluginsInitialized");
  EXPECT_EQ(two.service().RequestCount(kTokenUrl), 0);
}

// ---- The order in which the host hears of the plug-in's steps ------------------------------

constexpr const char* kRefreshWarning =
    "log 2|ULIX authorization refresh requested, but no authorization available.";

// The transcript without the exchanges themselves (HTTP and the client's telemetry calls), and
// with the random delays of the schedule lines written as "N".
std::vector<std::string> Steps(PluginTestHost& test) {
  static const std::regex kDelay(" in [0-9.]+ seconds");
  std::vector<std::string> steps;
  for (const std::string& line : test.TakeTranscript()) {
    if (line.starts_with("http ") || line.starts_with("resource /telemetry/")) continue;
    steps.push_back(std::regex_replace(line, kDelay, " in N seconds"));
  }
  return steps;
}

const std::vector<std::string> kSignOnCreates = {
    "change Create /ulix-auth/v1/authorization",
    "change Create /ulix-auth/v1/authorization/access-token",
    "change Create /ulix-auth/v1/authorization/id-token",
    "change Create /ulix-auth/v1/authorization/entitlements-token"};

// `first` followed by `then`.
std::vector<std::string> Then(std::vector<std::string> first,
                              const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

TEST(StartUp, SchedulesTheConfigurationBeforeSubscribingToThePluginManager) {
  PluginTestHost test;
  test.SetCommandLine(
      {"--ulix-auth.username=ann", "--ulix-auth.password=pw", "--ulix-auth.platform=NA1"});
  // The plug-in manager has initialised its plug-ins already: the subscription's first read
  // runs the command-line sign-on inside start, before the configuration callback has run.
  test.host().ScriptResource("/plugin-manager/v1/status",
                             Object({{"state", Text("PluginsInitialized")}}));
  test.Start(/*apply=*/false);
  std::vector<std::string> steps = Steps(test);
  // The runtime's own subscriptions come first.
  ASSERT_GE(steps.size(), 3u);
  steps.erase(steps.begin(), steps.begin() + 3);
  EXPECT_THAT(steps, ElementsAreArray(Then({"resource /vornclient/command-line-args",
                                            "resource /data-store/v1/install-settings/ulix-auth",
                                            "resource /vornclient/region-locale",
                                            "resource /data-store/v1/system-settings/region_data/"
                                            "NA1/ulix",
                                            "schedule configure-auth-client",
                                            "subscribe OnJsonApiEvent_plugin-manager_v1_status",
                                            "resource /plugin-manager/v1/status"},
                                           // Nothing is sent without a configuration applied.
                                           Then(kSignOnCreates, {kRefreshWarning}))));
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 0);
  EXPECT_EQ(test.Text(kGet, kAuthorization), kNoAuthorization);
}

TEST(SignOn, WithoutAConfigurationSendsNothing) {
  const struct {
    const char* name;
    bool region_settings;
    const char* answer;
    std::vector<std::string> steps;
    std::vector<std::string> data;  // of the changes
  } rows[] = {
      {"configured, not yet applied: default records and no authorization",
       true,
       kNoAuthorization,
       Then(kSignOnCreates, {kRefreshWarning}),
       {R"({"currentAccountId":0,"currentPlatformId":"","subject":""})",
        R"({"expiry":0,"scopes":[],"token":""})", R"({"expiry":0,"token":""})",
        R"({"entitlements":[],"expiry":0,"token":""})"}},
      {"no configuration at all",
       false,
       "500 Invalid ULIX Config.",
       {"log 3|ULIX not configured, but ULIX authorization requested."},
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PluginTestHost test;
    if (!row.region_settings) test.SetRegionSettings(std::nullopt);
    test.Start(/*apply=*/false);
    test.TakeTranscript();
    test.TakeChanges();
    const PluginTestHost::Reply reply = test.SignOn();
    EXPECT_EQ(std::to_string(reply.status) + " " + reply.error, row.answer);
    EXPECT_THAT(test.TakeTranscript(), ElementsAreArray(row.steps));
    std::vector<std::string> data;
    test.TakeChanges(&data);
    EXPECT_EQ(data, row.data);
    EXPECT_THAT(test.service().RequestedUrls(), IsEmpty());
    EXPECT_EQ(test.Text(kGet, kAuthorization), kNoAuthorization);
    EXPECT_EQ(test.Text(kGet, kError), kNoError);
  }
}

const std::vector<std::string> kSignOffDeletes = {
    "change Delete /ulix-auth/v1/authorization/userinfo",
    "change Delete /ulix-auth/v1/authorization",
    "change Delete /ulix-auth/v1/authorization/access-token",
    "change Delete /ulix-auth/v1/authorization/id-token"};

TEST(EventOrder, EachStepSendsItsEventsBeforeTheLinesAndTimerThatFollowThem) {
  PluginTestHost test;
  test.Start();
  test.TakeTranscript();
  const std::vector<std::string> refreshing = {"log 3|Refreshing tokens in N seconds...",
                                               "schedule ulix-auth.refresh"};
  const struct {
    const char* name;
    std::optional<FakeHost::HttpAnswer> refresh;  // none: sign on
    std::vector<std::string> steps;
  } rows[] = {
      {"sign-on", std::nullopt, Then(kSignOnCreates, refreshing)},
      {"refresh", TokenReply(AccessTokenFor("player-2")),
       Then({"log 3|Refresh successful.", "change Update /ulix-auth/v1/authorization/access-token"},
            refreshing)},
      {"refresh to retry",
       FakeHost::HttpAnswer{0, 503, ErrorBody("server_error", "busy")},
       {"log 3|Refresh failed due to error - should be retried: server_error - busy.",
        "log 3|Retrying authorization refresh in N seconds...", "schedule ulix-auth.refresh"}},
      {"refresh refused", FakeHost::HttpAnswer{0, 400, ErrorBody("invalid_grant", "no")},
       Then(Then({"log 3|Refresh failed - authorization should be deleted: invalid_grant - no"},
                 kSignOffDeletes),
            {"change Delete /ulix-auth/v1/authorization/gas-token",
             "change Delete /ulix-auth/v1/authorization/entitlements-token"})},
      {"sign-on again", std::nullopt, Then(kSignOnCreates, refreshing)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.refresh) {
      test.service().AnswerOnce(kTokenUrl, *row.refresh);
      test.Send(kPost, kRefresh);
    } else {
      ASSERT_EQ(test.SignOn().error, "");
    }
    EXPECT_THAT(Steps(test), ElementsAreArray(row.steps));
  }
  test.Send(kDelete, kAuthorization);
  EXPECT_THAT(Steps(test),
              ElementsAreArray(Then(
                  {"log 3|ULIXAuthPlugin::HandleAuthorizationDelete()", "log 3|ULIX Response 200"},
                  kSignOffDeletes)));
}

// ---- A host that calls back from inside a call of the plug-in's --------------------------------

// One call made by the host: method, path and body.
struct Call {
  std::uint32_t method;
  std::string path;
  std::optional<std::string> body = std::nullopt;
};

// The outer call runs; inside the first exchange of `hook` (a URL), or the first change of `hook`
// (a path) the plug-in sends, the host makes the inner call, on the same thread or on another
// thread that the exchange waits for. Either way the outcome is one of the two serial orders.
struct Reentry {
  const char* name;
  bool signed_on;
  Call outer;
  std::string hook;
  Call inner;
  std::string outer_answer, inner_answer;
  std::vector<std::string> changes;                        // after the setup
  std::vector<std::pair<std::string, std::string>> reads;  // GET path, answer, at the end
  std::vector<FakeHost::HttpAnswer> token_answers = {};    // queued, in request order
};

TEST(Reentry, EveryNestingEndsInOneOfTheSerialOrders) {
  // Where the client of ConfigToken() looks for its discovery document.
  const std::string kJwtDiscoveryUrl = "https://jwt.test/.well-known/openid-configuration";
  const std::string player1 =
      R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-1"})";
  const std::string other_token =
      ServiceToken(R"({"aud":"https://other.test/token","sub":"other-client"})");
  const Reentry rows[] = {
      {"config replaced inside its own discovery fetch",
       false,
       {kPost, "/ulix-auth/v1/config", R"({"token":")" + ConfigToken() + "\"}"},
       kJwtDiscoveryUrl,
       {kPost, "/ulix-auth/v1/config", R"({"token":")" + other_token + "\"}"},
       "null",
       "null",
       {},
       {{"/ulix-auth/v1/config/NA1", R"({"token":")" + other_token + "\"}"}}},
      {"override dropped inside its own discovery fetch",
       false,
       {kPost, "/ulix-auth/v1/config", R"({"token":")" + ConfigToken() + "\"}"},
       kJwtDiscoveryUrl,
       {kDelete, "/ulix-auth/v1/config"},
       "null",
       "null",
       {},
       {{kStatus, kRegionStatus}}},
      {"sign-off inside a refresh's token exchange",
       true,
       {kPost, kRefresh},
       kTokenUrl,
       {kDelete, kAuthorization},
       kNoAuthorization,
       "null",
       kSignOffDeletes,
       {{kAuthorization, kNoAuthorization}}},
      {"second sign-on inside the first's token exchange",
       false,
       {kPost, kGas, R"({"username":"ann","password":"pw","platformId":"NA1"})"},
       kTokenUrl,
       {kPost, kGas, R"({"username":"bob","password":"pw","platformId":"NA1"})"},
       "400 Tried to create an authorization when one already exists.",
       player1,
       kSignOnCreates,
       {{kAuthorization, player1}, {kError, kNoError}}},
      {"failed sign-on around a successful one",
       false,
       {kPost, kGas, R"({"username":"ann","password":"no","platformId":"NA1"})"},
       kTokenUrl,
       {kPost, kGas, R"({"username":"bob","password":"pw","platformId":"NA1"})"},
       "400 Tried to create an authorization when one already exists.",
       player1,
       kSignOnCreates,
       {{kAuthorization, player1}, {kError, kNoError}},
       {TokenReply(AccessTokenFor()), {0, 401, ErrorBody("invalid_grant", "no")}}},
      {"user info fetched while a sign-off runs",
       true,
       {kPost, "/ulix-auth/v1/authorization/userinfo"},
       kUserInfoUrl,
       {kDelete, kAuthorization},
       "404 No UserInfo currently exists. Are you logged in?",
       "null",
       kSignOffDeletes,
       {{"/ulix-auth/v1/authorization/userinfo",
         "404 No UserInfo currently exists. Are you logged in?"}}},
      {"sign-off inside a sign-off's revocation",
       true,
       {kDelete, kAuthorization},
       kRevokeUrl,
       {kDelete, kAuthorization},
       "null",
       kNoAuthorization,
       kSignOffDeletes,
       {{kAuthorization, kNoAuthorization}}},
      {"sign-off inside the sign-on's first Create",
       false,
       {kPost, kGas, R"({"username":"ann","password":"pw","platformId":"NA1"})"},
       kAuthorization,
       {kDelete, kAuthorization},
       player1,
       "null",
       Then(kSignOnCreates, kSignOffDeletes),
       {{kAuthorization, kNoAuthorization}}},
      {"refresh inside a refresh's token exchange",
       true,
       {kPost, kRefresh},
       kTokenUrl,
       {kPost, kRefresh},
       kPlayer2,
       player1,
       {"change Update /ulix-auth/v1/authorization/access-token"},
       {{kAuthorization, kPlayer2}}},
  };
  for (const bool other_thread : {false, true}) {
    for (const Reentry& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (other_thread ? ", on another thread" : ""));
      PluginTestHost test;
      test.Start();
      if (row.signed_on) {
        ASSERT_EQ(test.SignOn().error, "");
      }
      test.service().Answer(kTokenUrl,
                            TokenReply(AccessTokenFor(row.signed_on ? "player-2" : "player-1")));
      if (!row.token_answers.empty()) test.service().Answer(kTokenUrl, row.token_answers);
      test.service().Answer(kUserInfoUrl, {0, 200, R"({"sub":"player-1"})"});
      test.TakeChanges();

      std::atomic<bool> fired{false};
      std::string inner_answer = "(not called)";
      const auto call_inner = [&] {
        if (fired.exchange(true)) return;
        const auto inner = [&] {
          inner_answer = test.Text(row.inner.method, row.inner.path, row.inner.body);
        };
        if (!other_thread) return inner();
        // The host's one network thread: the exchange waits for the inner call to end.
        std::packaged_task<void()> task(inner);
        std::future<void> done = task.get_future();
        std::thread(std::move(task)).detach();
        ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "deadlock";
      };
      test.service().OnExchange([&](const std::string& url, const std::string&) {
        if (url == row.hook) call_inner();
      });
      if (row.hook.starts_with("/")) {
        test.plugin().observeResource(row.hook, [&](const Vorn::Client::PluginResourceEvent& e) {
          if (e.eventType == Vorn::Client::PluginResourceEventType::kCreate) call_inner();
        });
      }
      EXPECT_EQ(test.Text(row.outer.method, row.outer.path, row.outer.body), row.outer_answer);
      EXPECT_EQ(inner_answer, row.inner_answer);
      std::vector<std::string> changes = test.TakeChanges();
      for (std::string& change : changes) change = "change " + change;
      EXPECT_EQ(changes, row.changes);
      for (const auto& [path, answer] : row.reads) EXPECT_EQ(test.Text(kGet, path), answer) << path;
    }
  }
}

// Another thread is still sending the events of a sign-on (the host holds their delivery) when
// a sign-off arrives: the sign-off answers without waiting, and its events follow the sign-on's.
TEST(EventOrder, EventsOfAnotherThreadsCallGoOutAfterThoseItIsSending) {
  PluginTestHost test;
  test.Start();
  std::mutex mutex;
  std::condition_variable changed;
  bool delivering = false, signed_off = false;
  test.plugin().observeResource(
      "/ulix-auth/v1/authorization", [&](const Vorn::Client::PluginResourceEvent& event) {
        if (event.eventType != Vorn::Client::PluginResourceEventType::kCreate) return;
        std::unique_lock<std::mutex> lock(mutex);
        delivering = true;
        changed.notify_all();
        // Released by the sign-off's answer; bounded so that a plug-in that makes the
        // sign-off wait for this delivery fails instead of hanging.
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return signed_off; }));
      });
  test.TakeChanges();
  std::thread sign_on([&] { EXPECT_EQ(test.SignOn().error, ""); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return delivering; });
  }
  EXPECT_EQ(test.Send(kDelete, kAuthorization).error, "");
  {
    std::lock_guard<std::mutex> lock(mutex);
    signed_off = true;
    changed.notify_all();
  }
  sign_on.join();
  std::vector<std::string> changes = test.TakeChanges();
  for (std::string& change : changes) change = "change " + change;
  EXPECT_EQ(changes, Then(kSignOnCreates, kSignOffDeletes));
}

}  // namespace
}  // namespace ulix_auth
