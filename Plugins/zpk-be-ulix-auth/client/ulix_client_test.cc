#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"

#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/json_bridge.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/compact_token.h"
#include "testing/fake_host.h"
#include "testing/http_script.h"
#include "testing/sign_on_service.h"
#include "testing/started_plugin.h"

namespace ulix_auth {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Gt;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ulix_testing::FakeHost;
using ulix_testing::HttpScript;
using ulix_testing::kDiscoveryUrl;
using ulix_testing::kRevokeUrl;
using ulix_testing::kTokenUrl;
using ulix_testing::kUserInfoUrl;
using Answer = FakeHost::HttpAnswer;

constexpr std::int64_t kSecond = 1'000'000'000;

std::int64_t now_ns = 0;
std::int64_t FakeNow() { return now_ns; }

Answer Json(std::uint32_t status, std::string body) { return {0, status, std::move(body)}; }
Answer Unreachable() { return {1, 0, "connection refused"}; }

ULIXClientConfig Config(std::string url = kTokenUrl) {
  return ULIXClientConfig{std::move(url), "vc", "", "openid offline_access", true};
}

std::string DiscoveryDocument() {
  return R"({"vorn_kiv_regions_supported": ["EUW1", "NA1", "KR", 7],)"
         R"( "vorn_kiv_regions_disabled": ["KR"],)"
         R"( "vorn_kiv_userinfo_regions_enabled": ["NA1"],)"
         R"( "vorn_did_uri": "https://did.example/frame", "userinfo_endpoint": ")" +
         std::string(kUserInfoUrl) + R"("})";
}

// The service's tokens, those of the plug-in's tests.
std::string AccessToken() { return ulix_testing::AccessTokenFor(); }
std::string IdToken() { return ulix_testing::IdTokenText(); }

std::string TokenAnswer(std::string extra = R"(, "expires_in": 3600)") {
  return R"({"access_token": ")" + AccessToken() + R"(", "id_token": ")" + IdToken() +
         R"(", "refresh_token": "r+1/=")" + extra + "}";
}

// "<method> <url> <timeout>s flag <flag> [<headers>] <body>" of a request, the runtime's
// user-agent header by its name alone.
std::string Sent(const FakeHost::HttpCall& call) {
  std::string headers;
  for (const auto& [name, value] : call.headers) {
    headers += (headers.empty() ? "" : ", ") + (name == "user-agent" ? name : name + ": " + value);
  }
  return std::string(call.method == kHostMethodGet ? "GET " : "POST ") + call.url + " " +
         std::to_string(call.timeout) + "s flag " + std::to_string(call.flag) + " [" + headers +
         "] " + call.body;
}
// One line, or none for "".
std::vector<std::string> Lines(const std::string& line) {
  return line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line};
}

// The messages of an answer to `request` ("POST <url>") whose body is empty or not JSON.
std::string EmptyBody(std::string_view request) {
  return "Error converting response for " + std::string(request) + ": body was empty";
}
std::string NotJson(std::string_view request, std::string_view error, std::string_view body) {
  return "Error deserializing json response for " + std::string(request) +
         ": Error: " + std::string(error) + " given body " + std::string(body);
}
// The telemetry fields of a body that did not decode, before `rest`.
std::string Malformed(const std::string& message, std::string_view rest = "}") {
  return R"({"error":"malformed_body","error_description":")" + message + "\"" + std::string(rest);
}

class ULIXClientTest : public ::testing::Test {
 protected:
  ULIXClientTest() {
    now_ns = 1000 * kSecond;
    plugin_->setMonotonicClock(&FakeNow);
    host_.ClearLog();
  }
  ~ULIXClientTest() override { EXPECT_EQ(script_.outstanding(), 0u) << "an answer was kept"; }

  // Configured against a service whose discovery document is DiscoveryDocument().
  void Configure(ULIXClientConfig config = Config()) {
    script_.Answer(kDiscoveryUrl, Json(200, DiscoveryDocument()));
    client_.SetULIXConfig(std::move(config));
    Mark();
  }
  // Starts Logs, Events and Requests afresh.
  void Mark() {
    host_.ClearLog();
    requests_before_ = host_.HttpCalls().size();
    resource_calls_before_ = host_.ResourceCalls().size();
  }

  // "level message" of every line handed to the host.
  std::vector<std::string> Logs() const {
    std::vector<std::string> lines;
    for (const FakeHost::LogLine& line : host_.LogLines()) {
      lines.push_back(std::to_string(line.level) + " " + line.message);
    }
    return lines;
  }
  // "name payload" of every telemetry event since Mark.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    const auto calls = host_.ResourceCalls();
    for (std::size_t i = resource_calls_before_; i < calls.size(); ++i) {
      const std::string prefix = "/telemetry/v1/events/";
      if (calls[i].path.rfind(prefix, 0) != 0) continue;
      events.push_back(calls[i].path.substr(prefix.size()) + " " +
                       calls[i].arguments.at(0).second.Json());
    }
    return events;
  }
  std::vector<FakeHost::HttpCall> Requests() const {
    auto calls = host_.HttpCalls();
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(requests_before_));
    return calls;
  }

  FakeHost host_;
  ulix_testing::StartedPlugin plugin_{host_};
  HttpScript script_{host_};
  ULIXClient client_{*plugin_};
  std::size_t requests_before_ = 0;
  std::size_t resource_calls_before_ = 0;
};

// ---- Discovery ---------------------------------------------------------------------------------

TEST_F(ULIXClientTest, ConfigurationFetchesDiscoveryInPlaceOfTheLastSixCharacters) {
  script_.Answer(kDiscoveryUrl, Json(200, DiscoveryDocument()));
  script_.Answer("https://auth/.well-known/openid-configuration", Json(200, "{}"));
  ULIXClientConfig config = Config();
  config.clientAssertion = "secret-assertion";
  client_.SetULIXConfig(config);
  client_.SetULIXConfig(Config("https://auth.test/"));  // not "/token": still six go

  const auto calls = host_.HttpCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(Sent(calls[0]), "GET " + std::string(kDiscoveryUrl) + " 10s flag 1 [user-agent] ");
  EXPECT_EQ(calls[1].url, "https://auth/.well-known/openid-configuration");
  EXPECT_THAT(Logs(),
              ElementsAre("3 ULIXClient::SetULIXConfig url: https://auth.test/token, "
                          "clientId: vc, scopes: openid offline_access",
                          "3 ulix-auth: OpenID configuration fetch succeeded after 1 tries",
                          "3 ULIXClient::SetULIXConfig url: https://auth.test/, "
                          "clientId: vc, scopes: openid offline_access",
                          "3 ulix-auth: OpenID configuration fetch succeeded after 1 tries"));
  const auto resources = host_.ResourceCalls();
  ASSERT_FALSE(resources.empty());
  EXPECT_EQ(resources[0].path, "/telemetry/v1/common-data/client_id");
  EXPECT_EQ(resources[0].arguments.at(0).second.Json(), "\"vc\"");
}

TEST_F(ULIXClientTest, AvailabilityFollowsTheDiscoveredRegionSets) {
  Configure();
  struct Row {
    std::string_view platform;
    bool available;
    bool user_info;
    std::string_view line;
  };
  const Row rows[] = {
      {"EUW1", true, false, "supported: true, disabled: false"},
      {"NA1", true, true, "supported: true, disabled: false"},
      {"KR", false, false, "supported: true, disabled: true"},  // listed in both
      {"euw1", false, false, "supported: false, disabled: false"},
      {"7", true, false, "supported: true, disabled: false"},  // a number, as its decimal text
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.platform);
    host_.ClearLog();
    EXPECT_EQ(client_.IsPlatformAvailable(row.platform), row.available);
    EXPECT_EQ(client_.IsUserInfoEnabled(row.platform), row.user_info);
    const std::string id(row.platform);
    EXPECT_THAT(Logs(), ElementsAre("3 ULIXClient::IsPlatformAvailable(" + id +
                                        "): " + std::string(row.line),
                                    "3 ULIXClient::IsUserInfoEnabled(" + id +
                                        "): " + (row.user_info ? "true" : "false")));
  }
  EXPECT_THAT(Requests(), IsEmpty());
  EXPECT_EQ(client_.discovery()->didUri, "https://did.example/frame");
  EXPECT_EQ(client_.discovery()->userInfoEndpoint, kUserInfoUrl);
}

TEST_F(ULIXClientTest, WithoutConfigurationNothingIsAvailableFetchedOrSent) {
  EXPECT_FALSE(client_.IsPlatformAvailable("NA1"));
  EXPECT_FALSE(client_.IsUserInfoEnabled("NA1"));
  client_.FetchOpenIdConfiguration();
  EXPECT_EQ(client_.LoginWithPassword("ann", "pw", "EUW1"), std::nullopt);
  EXPECT_EQ(client_.RequestToken("grant_type=password"), std::nullopt);
  const plugin_runtime::HttpResponse unsent = client_.SendTokenEndpointRequest("", "x=1");
  EXPECT_NE(unsent.transport, plugin_runtime::HttpTransportResult::kSuccess);
  EXPECT_EQ(unsent.message, "Missing ULIX configuration.");
  EXPECT_THAT(Logs(),
              ElementsAre("3 ULIXClient::IsPlatformAvailable(NA1): false - no config exists",
                          "3 ULIXClient::IsUserInfoEnabled(NA1): false - no config exists",
                          "1 ULIX not configured."));
  EXPECT_THAT(host_.HttpCalls(), IsEmpty());
  EXPECT_EQ(client_.discovery(), nullptr);
}

TEST_F(ULIXClientTest, TwoFailedAttemptsLeaveAnEmptyRecordTrustedForThreeHundredSeconds) {
  script_.Answer(kDiscoveryUrl, Unreachable());
  client_.SetULIXConfig(Config());
  EXPECT_EQ(host_.HttpCalls().size(), 2u);
  const std::string failed =
      "1 ulix-auth: Request for openid configuration failed with error Could not connect to the "
      "server: connection refused and with headers {}";
  EXPECT_THAT(Logs(), ElementsAre(HasSubstr("SetULIXConfig"), failed, failed,
                                  "1 ULIX Unable to connect to server: connection refused"));
  EXPECT_THAT(Events(), ElementsAre("ulix_openid_failure {\"error\":\"unable_to_connect\","
                                    "\"error_description\":\"connection refused\"}"));

  script_.Answer(kDiscoveryUrl, Json(200, DiscoveryDocument()));
  now_ns += 299 * kSecond;
  EXPECT_FALSE(client_.IsPlatformAvailable("NA1"));
  now_ns += 1 * kSecond;  // exactly at the expiry: still fresh
  EXPECT_FALSE(client_.IsUserInfoEnabled("NA1"));
  EXPECT_EQ(host_.HttpCalls().size(), 2u);
  now_ns += 1;
  EXPECT_TRUE(client_.IsPlatformAvailable("NA1"));
  EXPECT_EQ(host_.HttpCalls().size(), 3u);
}

TEST_F(ULIXClientTest, DeliveredAnswersAreReadWhateverTheirStatusAndOneFailureIsRetried) {
  struct Row {
    std::vector<Answer> answers;
    std::vector<std::string> events;
    std::string last_line;
    bool available = false;
  };
  const std::string get = "GET " + std::string(kDiscoveryUrl);
  const std::string not_json = NotJson(get, "Invalid value. at offset 0.", "oops");
  const Row rows[] = {
      {{Unreachable(), Json(200, DiscoveryDocument())},
       {},
       "3 ulix-auth: OpenID configuration fetch succeeded after 2 tries",
       true},
      {{Json(500, R"({"error": "down"})")},
       {},
       "3 ulix-auth: OpenID configuration fetch succeeded after 1 tries"},
      {{Json(200, "oops")},
       {"ulix_openid_failure " + Malformed(not_json)},
       "1 ULIX received malformed body: " + not_json},
      {{Json(200, "")},
       {"ulix_openid_failure " + Malformed(EmptyBody(get))},
       "1 ULIX received malformed body: " + EmptyBody(get)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.last_line);
    Mark();
    script_.Answer(kDiscoveryUrl, row.answers);
    client_.SetULIXConfig(Config());
    EXPECT_EQ(Logs().back(), row.last_line);
    EXPECT_EQ(Events(), row.events);
    EXPECT_EQ(Requests().size(), row.answers.size());
    EXPECT_EQ(client_.IsPlatformAvailable("EUW1"), row.available);
  }
}

TEST_F(ULIXClientTest, AUrlShorterThanSixCharactersRaisesAfterInstallingTheRecord) {
  try {
    client_.SetULIXConfig(Config("https"));
    ADD_FAILURE() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "invalid string position");
  }
  EXPECT_NE(client_.discovery(), nullptr);
  EXPECT_THAT(host_.HttpCalls(), IsEmpty());
  client_.ClearConfig();
  EXPECT_EQ(client_.discovery(), nullptr);
  EXPECT_FALSE(client_.HasConfig());
}

// ---- Token requests ------------------------------------------------------------------------

TEST_F(ULIXClientTest, PasswordSignOnSendsTheExactFormWithTheClientId) {
  Configure();
  script_.Answer(kTokenUrl, Json(200, TokenAnswer()));
  EXPECT_EQ(client_.LoginWithPassword("ann b|c", "p&ss w=rd+", "EUW1"), std::nullopt);

  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Sent(Requests()[0]),
            "POST " + std::string(kTokenUrl) +
                " 10s flag 1 [user-agent, Cache-Control: no-cache, Content-Type: "
                "application/x-www-form-urlencoded] client_id=vc&grant_type=password&username="
                "EUW1%7Cann%20b%7Cc&password=p%26ss%20w%3Drd%2B&scope=openid%20offline_access");
  EXPECT_THAT(Events(), ElementsAre("ulix_token_request {\"grant_type\":\"password\","
                                    "\"succeeded\":\"true\"}"));
  // No secret reaches a log line or a telemetry field.
  for (const std::string& text : Logs()) EXPECT_THAT(text, Not(HasSubstr("p&ss")));
  for (const std::string& text : Events()) EXPECT_THAT(text, Not(HasSubstr("r+1")));
}

TEST_F(ULIXClientTest, AClientAssertionReplacesTheClientId) {
  ULIXClientConfig config = Config();
  config.clientAssertion = "a+b/c=";
  Configure(config);
  script_.Answer(kTokenUrl, Json(200, TokenAnswer()));
  EXPECT_EQ(client_.RequestToken(RefreshTokenGrant("r+1/=")), std::nullopt);
  EXPECT_EQ(Requests().at(0).body,
            "client_assertion_type=urn%3Aietf%3Aparams%3Aoauth%3Aclient-assertion-type%3Ajwt-bearer"
            "&client_assertion=a%2Bb%2Fc%3D&grant_type=refresh_token&refresh_token=r%2B1%2F%3D");
}

TEST_F(ULIXClientTest, TheDeviceSessionIdIsSentOnlyWhileTheServiceHasADeviceFrame) {
  script_.Answer(kTokenUrl, Json(200, TokenAnswer()));
  const auto dsid_headers = [this] {
    std::vector<std::string> values;
    const auto calls = host_.HttpCalls();
    for (const auto& [name, value] : calls.back().headers) {
      if (name == "X-Vorn-DSID") values.push_back(value);
    }
    return values;
  };
  Configure();
  EXPECT_FALSE(client_.RequestToken("grant_type=x"));
  EXPECT_THAT(dsid_headers(), IsEmpty());  // no id set
  client_.SetDeviceSessionId("dsid-1");
  EXPECT_FALSE(client_.RequestToken("grant_type=x"));
  EXPECT_THAT(dsid_headers(), ElementsAre("dsid-1"));
  script_.Answer(kDiscoveryUrl, Json(200, "{}"));
  client_.FetchOpenIdConfiguration();  // the service has no "vorn_did_uri" now
  EXPECT_FALSE(client_.RequestToken("grant_type=x"));
  EXPECT_THAT(dsid_headers(), IsEmpty());
}

TEST_F(ULIXClientTest, TokenAnswersMapToErrorsByTheirMembersNotTheirStatus) {
  struct Row {
    std::string name;
    Answer answer;
    std::optional<ULIXRequestError> error;
    std::string event;  // empty: none
    std::string log;    // empty: none
  };
  const std::string post = "POST " + std::string(kTokenUrl);
  const std::string grant = R"(,"grant_type":"refresh_token","succeeded":"false"})";
  // The body of an answer that does not decode is told, unless it names a token member: a
  // cut-off token answer still holds the tokens, and then only its length is told.
  const std::string unquoted = "Missing a closing quotation mark in string. at offset ";
  const std::string cut_off = NotJson(post, unquoted + "42.", "withheld (42 bytes)");
  const std::string cut_off_id = NotJson(post, unquoted + "17.", "withheld (17 bytes)");
  const std::string page = NotJson(post, "Invalid value. at offset 0.", "<p>Bad gateway</p>");
  const std::string error_fields = R"(,"grant_type":"refresh_token","statusCode":")";
  // An answer that does not decode: 513, its message in the event and the log line.
  const auto malformed = [&](std::string name, Answer answer, const std::string& message) {
    return Row{std::move(name), std::move(answer),
               ULIXRequestError{513, "server_error", "Received invalid JSON"},
               Malformed(message, grant), "1 ULIX received malformed body: " + message};
  };
  const Row rows[] = {
      // clang-format off
      {"unreachable", Unreachable(),
       ULIXRequestError{512, "temporarily_unavailable", "Unable to connect to server"},
       R"({"error":"unable_to_connect","error_description":"connection refused")" + grant,
       "3 ULIX Unable to connect to server: connection refused"},
      malformed("empty body", Json(200, ""), EmptyBody(post)),
      malformed("cut-off answer", Json(200, R"({"access_token": "secret-at", "refresh_tok)"),
                cut_off),
      malformed("cut-off answer with an id token only", Json(200, R"({"id_token": "abc)"),
                cut_off_id),
      malformed("gateway page", Json(502, "<p>Bad gateway</p>"), page),
      {"error member only", Json(400, R"({"error": "invalid_grant"})"),
       ULIXRequestError{400, "invalid_grant", ""},
       R"({"error":"invalid_grant","error_description":"")" + error_fields +
       R"(400","succeeded":"false"})", ""},
      {"error with 200",
       Json(200, R"({"error": "e", "error_description": 5, "access_token": "x"})"),
       ULIXRequestError{200, "e", "5"},
       R"({"error":"e","error_description":"5")" + error_fields + R"(200","succeeded":"false"})",
       ""},
      {"neither member", Json(502, R"({"message": "bad gateway"})"),
       ULIXRequestError{502, "server_error", "Received malformed response."}, "", ""},
      {"not an object", Json(200, R"(["access_token"])"),
       ULIXRequestError{200, "server_error", "Received malformed response."}, "", ""},
      {"access token with 500", Json(500, TokenAnswer()), std::nullopt,
       R"({"grant_type":"refresh_token","succeeded":"true"})", ""},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Configure();
    script_.Answer(kTokenUrl, row.answer);
    EXPECT_EQ(client_.RequestToken(RefreshTokenGrant("r")), row.error);
    // An empty row field: no event, no log line.
    EXPECT_EQ(Events(), Lines(row.event.empty() ? "" : "ulix_token_request " + row.event));
    EXPECT_EQ(Logs(), Lines(row.log));
  }
}

TEST_F(ULIXClientTest, ExpiresInIsReadInEveryFormOnItsLowThirtyTwoBits) {
  struct Row {
    std::string_view member;
    double delay;
  };
  const Row rows[] = {
      {R"(, "expires_in": 3600)", 3570},         {R"(, "expires_in": "3600")", 3570},
      {R"(, "expires_in": "0x1000")", 4066},     {R"(, "expires_in": 3600.9)", 3570},
      {R"(, "expires_in": 4294967356)", 30},     {R"(, "expires_in": "010")", 4294967274.0},
      {R"(, "expires_in": true)", 4294967267.0}, {"", 4294967266.0},
  };
  Configure();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.member);
    script_.Answer(kTokenUrl, Json(200, TokenAnswer(std::string(row.member))));
    ASSERT_EQ(client_.RequestToken("grant_type=password"), std::nullopt);
    EXPECT_EQ(client_.tokens()->refreshDelaySeconds, row.delay);
  }
}

TEST_F(ULIXClientTest, ARefreshKeepsTheTokensItLacksAndAFailedOneKeepsAllButAFailedSignOnNone) {
  Configure();
  script_.Answer(kTokenUrl, Json(200, TokenAnswer()));
  ASSERT_EQ(client_.LoginWithPassword("ann", "pw", "EUW1"), std::nullopt);
  script_.Answer(kTokenUrl,
                 Json(200, R"({"access_token": ")" + AccessToken() + R"(", "expires_in": 60})"));
  ASSERT_EQ(client_.RequestToken(RefreshTokenGrant("r+1/=")), std::nullopt);
  EXPECT_EQ(client_.tokens()->idToken->token, IdToken());
  EXPECT_EQ(client_.tokens()->entitlementsToken->entitlements,
            (std::vector<std::string>{"ent1", "ent2"}));
  EXPECT_EQ(client_.tokens()->refreshToken, std::nullopt);
  EXPECT_EQ(client_.tokens()->refreshDelaySeconds, 30.0);
  Mark();

  // A token that scans but does not parse fails the request only.
  const std::string broken = ulix_testing::MakeToken("{}", R"({"exp": 1)");
  script_.Answer(kTokenUrl, Json(200, R"({"access_token": ")" + broken + R"("})"));
  EXPECT_EQ(client_.RequestToken(RefreshTokenGrant("r")),
            (ULIXRequestError{513, "server_error",
                              "Received invalid token: Unexpected End of token stream"}));
  EXPECT_EQ(client_.tokens()->accessToken, AccessToken());
  EXPECT_THAT(Logs(), ElementsAre("1 ULIX received invalid token: Unexpected End of token stream"));
  EXPECT_THAT(Events(), ElementsAre("ulix_token_request {\"error\":\"malformed_token\","
                                    "\"error_description\":\"Unexpected End of token stream\","
                                    "\"grant_type\":\"refresh_token\",\"succeeded\":\"false\"}"));

  script_.Answer(kTokenUrl, Json(503, ""));
  EXPECT_EQ(client_.RequestToken(RefreshTokenGrant("r"))->code, 513);
  EXPECT_TRUE(client_.tokens());
  EXPECT_EQ(client_.LoginWithPassword("ann", "pw", "EUW1")->code, 513);
  EXPECT_FALSE(client_.tokens());
}

// ---- Revocation and user info --------------------------------------------------------------

TEST_F(ULIXClientTest, RevocationMapsEachAnswer) {
  struct Row {
    std::string name;
    Answer answer;
    std::optional<ULIXRequestError> error;
    std::string event;
    std::vector<std::string> logs;
  };
  const std::string revoke_url = kRevokeUrl;
  const std::string post = "POST " + revoke_url;
  const std::string failed = "ulix_token_revoke_failure ";
  // An answer with `status` that does not decode, for `message`.
  const auto malformed = [&](std::string name, std::uint32_t status, std::string body,
                             const std::string& message) {
    return Row{std::move(name),
               Json(status, std::move(body)),
               ULIXRequestError{513, "server_error", "Received invalid JSON"},
               failed + Malformed(message),
               {"3 ULIX Response " + std::to_string(status),
                "1 ULIX received malformed body: " + message}};
  };
  const std::string cut_off = NotJson(
      post, "Missing a closing quotation mark in string. at offset 22.", "withheld (22 bytes)");
  const Row rows[] = {
      // clang-format off
      {"unreachable", Unreachable(),
       ULIXRequestError{512, "server_error", "Unable to connect to server"},
       failed + R"({"error":"unable_to_connect","error_description":"connection refused"})",
       {"1 ULIX Unable to connect to server: connection refused"}},
      {"200 not json", Json(200, "ok"), std::nullopt, "", {"3 ULIX Response 200"}},
      malformed("503 empty", 503, "", EmptyBody(post)),
      malformed("502 page", 502, "<p>down</p>",
                NotJson(post, "Invalid value. at offset 0.", "<p>down</p>")),
      malformed("400 cut off at a refresh token", 400, R"({"refresh_token": "r+1)", cut_off),
      {"400 error", Json(400, R"({"error": "invalid_token", "error_description": "gone"})"),
       ULIXRequestError{400, "invalid_token", "gone"},
       failed + R"({"error":"invalid_token","error_description":"gone"})", {"3 ULIX Response 400"}},
      {"400 array", Json(400, "[1, {\"a\": 2}]"),
       ULIXRequestError{400, "server_error", "Received unexpected response: "
                        "[\r\n    1,\r\n    {\r\n        \"a\": 2\r\n    }\r\n]"},
       failed + R"({"error":"server_error"})",
       {"3 ULIX Response 400", "1 ULIX received valid JSON body with unexpected structure"}},
      // clang-format on
  };
  ULIXTokenSet tokens;
  tokens.refreshToken = "r+1";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Configure();
    client_.SetTokenSet(tokens);
    script_.Answer(revoke_url, row.answer);
    EXPECT_EQ(client_.RevokeRefreshToken(), row.error);
    EXPECT_EQ(Requests().at(0).url + " " + Requests().at(0).body,
              revoke_url + " client_id=vc&token=r%2B1&token_type_hint=refresh_token");
    EXPECT_EQ(Events(), Lines(row.event));
    EXPECT_EQ(Logs(), row.logs);
    EXPECT_TRUE(client_.tokens());
  }
  client_.SetTokenSet(ULIXTokenSet{});  // no refresh token: nothing to revoke
  EXPECT_EQ(client_.RevokeRefreshToken(), std::nullopt);
  EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(ULIXClientTest, UserInfoIsFetchedWithTheAccessTokenAndKeptAsText) {
  Configure();
  ULIXTokenSet tokens;
  tokens.accessToken = "at-1";
  client_.SetTokenSet(tokens);
  script_.Answer(kUserInfoUrl,
                 {Json(200, "not json at all"), Json(401, R"({"error": "x"})"), Unreachable()});

  EXPECT_EQ(client_.RequestUserInfo(), std::nullopt);
  EXPECT_EQ(client_.userInfo(), "not json at all");
  EXPECT_EQ(Sent(Requests().at(0)), "GET " + std::string(kUserInfoUrl) +
                                        " 10s flag 1 [user-agent, Authorization: Bearer at-1] ");

  EXPECT_EQ(client_.RequestUserInfo(), (ULIXRequestError{401, "Error", "Error"}));
  EXPECT_EQ(client_.RequestUserInfo(),
            (ULIXRequestError{512, "server_error", "Unable to connect to server"}));
  EXPECT_EQ(client_.userInfo(), "not json at all");
  EXPECT_THAT(Events(), ElementsAre("ulix_user_info_failure {\"error\":\"generic\"}",
                                    "ulix_user_info_failure {\"error\":\"unable_to_connect\","
                                    "\"error_description\":\"connection refused\"}"));
  EXPECT_THAT(Logs(), ElementsAre("3 ULIX Response 200", "3 ULIX Response 401",
                                  "1 ULIX Unable to connect to server: connection refused"));
  for (const std::string& line : Logs()) EXPECT_THAT(line, Not(HasSubstr("at-1")));
}

TEST_F(ULIXClientTest, UserInfoWithoutAnEndpointSendsNothing) {
  script_.Answer(kDiscoveryUrl, Json(200, "{}"));
  client_.SetULIXConfig(Config());
  ULIXTokenSet tokens;
  tokens.accessToken = "at-1";
  client_.SetTokenSet(tokens);
  EXPECT_EQ(client_.RequestUserInfo(), std::nullopt);
  EXPECT_FALSE(client_.userInfo());
  EXPECT_EQ(host_.HttpCalls().size(), 1u);  // the discovery fetch only
}

// ---- Random answers ------------------------------------------------------------------------
// Every outcome must be a value (success or a ULIXRequestError with a code the client can
// produce) and every answer the host lent must be given back.

class RandomAnswers {
 public:
  explicit RandomAnswers(std::uint32_t seed) : random_(seed) {}

  FakeHost::HttpAnswer Answer() {
    FakeHost::HttpAnswer answer;
    const int transport = Pick(10);
    answer.transport = transport < 7 ? 0 : (transport == 7 ? 1 : (transport == 8 ? 2 : 0xFFFFFFFF));
    static const std::uint32_t kStatuses[] = {200, 200, 201, 204, 301, 400, 401, 404, 500, 503};
    answer.status = Pick(4) == 0 ? static_cast<std::uint32_t>(Pick(1000)) : kStatuses[Pick(10)];
    const int body = Pick(8);  // 0: none
    if (body > 0) answer.body = body == 1 ? "" : (body == 2 ? Bytes(Pick(64)) : Value(0, true));
    if (Pick(20) == 0) answer.null_headers = true;
    if (!answer.body && Pick(4) == 0) answer.null_body_length = 5;
    if (Pick(3) == 0) answer.headers.emplace_back("Content-Type", Bytes(Pick(8)));
    return answer;
  }

 private:
  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

  std::string Bytes(int length) {
    std::string bytes;
    for (int i = 0; i < length; ++i) bytes.push_back(static_cast<char>(Pick(256)));
    return bytes;
  }

  std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

  // A token whose payload is a random claim text: valid, unterminated, not scanning, not JSON.
  std::string Token() {
    // clang-format off
    static const char* kPayloads[] = {
        R"({"exp": 1e400, "scp": ["a", 1], "dat": {"u": -1e300, "r": 5}, "tag": [null]})",
        R"({"exp": 1)", R"({"a": @})", "[1]", R"({"a": 1, "a": 2})", "", R"({"sub": "\u12"})",
        R"({"x": [[[[{}]]]]})"};
    // clang-format on
    std::string payload = kPayloads[Pick(8)];
    if (Pick(4) == 0) payload = Bytes(Pick(40));
    std::string token = wire::Base64UrlEncode("{}") + "." + wire::Base64UrlEncode(payload);
    if (Pick(2) == 0) token += "." + Bytes(Pick(6));
    if (Pick(8) == 0) token = Bytes(Pick(30));
    return token;
  }

  std::string Value(int depth, bool top) {
    // clang-format off
    static const char* kNames[] = {
        "error", "error_description", "access_token", "id_token", "refresh_token", "gas_token",
        "expires_in", "vorn_kiv_regions_supported", "vorn_kiv_regions_disabled",
        "vorn_kiv_userinfo_regions_enabled", "vorn_did_uri", "userinfo_endpoint"};
    // clang-format on
    const int kind = top ? (Pick(6) == 0 ? Pick(7) : 6) : Pick(depth > 2 ? 5 : 7);
    static const char* kNumbers[] = {"0", "-1", "3600", "4294967326", "1e308", "-0.5", "29"};
    static const char* kTexts[] = {"EUW1", "0x10", "010", "", kUserInfoUrl};
    if (kind == 0) return "null";
    if (kind == 1) return Pick(2) ? "true" : "false";
    if (kind == 2) return kNumbers[Pick(7)];
    if (kind == 3) return Quoted(kTexts[Pick(5)]);
    if (kind == 4) {
      return Quoted(Pick(2) ? Token() : wire::Base64UrlEncode(Pick(2) ? R"({"g": 1})" : "nope"));
    }
    const bool array = kind == 5;
    std::string text = array ? "[" : "{";
    for (int i = Pick(array ? 4 : 6); i > 0; --i) {
      if (!array) text += Quoted(kNames[Pick(12)]) + ":";
      text += Value(depth + 1, false) + (i > 1 ? "," : "");
    }
    return text + (array ? "]" : "}");
  }

  std::mt19937 random_;
};

bool IsKnownCode(const std::optional<ULIXRequestError>& error,
                 const std::vector<FakeHost::HttpCall>& calls, std::size_t before) {
  if (!error) return true;
  // Either one of the client's own codes or a status the host just reported.
  return error->code == kServiceUnreachable || error->code == kAnswerNotJson ||
         (error->code >= 0 && error->code < 1000 && calls.size() > before);
}

TEST_F(ULIXClientTest, RandomAnswersGiveValuesAndAreAllGivenBack) {
  RandomAnswers answers(20261206);
  std::mt19937 choose(7);
  // Outcomes seen, so that a change of the generator cannot quietly test nothing.
  int signed_on = 0, unreachable = 0, not_json = 0, answered = 0;

  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE(round);
    for (const char* url : {kTokenUrl, kRevokeUrl, kDiscoveryUrl, kUserInfoUrl}) {
      script_.Answer(url, {answers.Answer(), answers.Answer()});
    }
    now_ns += 100'000'000'000;  // discovery goes stale every third round
    const std::size_t before = host_.HttpCalls().size();
    std::optional<ULIXRequestError> error;
    switch (choose() % 7) {
      case 0:
        EXPECT_NO_THROW(client_.SetULIXConfig(
            ULIXClientConfig{kTokenUrl, "vc", choose() % 2 ? "a+b" : "", "openid", false}));
        break;
      case 1:
        EXPECT_NO_THROW(client_.IsPlatformAvailable("EUW1"));
        EXPECT_NO_THROW(client_.IsUserInfoEnabled("EUW1"));
        break;
      case 2:
        EXPECT_NO_THROW(error = client_.LoginWithPassword("ann", "pw", "EUW1"));
        break;
      case 3:
        EXPECT_NO_THROW(error = client_.RequestToken(RefreshTokenGrant("r")));
        break;
      case 4:
        EXPECT_NO_THROW(error = client_.RevokeRefreshToken());
        break;
      case 5:
        EXPECT_NO_THROW(error = client_.RequestUserInfo());
        break;
      default:
        client_.SetDeviceSessionId("dsid");
        EXPECT_NO_THROW(client_.FetchOpenIdConfiguration());
    }
    EXPECT_TRUE(IsKnownCode(error, host_.HttpCalls(), before)) << error->code;
    if (client_.tokens()) ++signed_on;
    if (error) {
      ++(error->code == kServiceUnreachable
             ? unreachable
             : (error->code == kAnswerNotJson ? not_json : answered));
    }
    EXPECT_EQ(script_.outstanding(), 0u);
  }
  EXPECT_GT(host_.HttpCalls().size(), 300u);
  EXPECT_THAT((std::vector<int>{signed_on, unreachable, not_json, answered}), Each(Gt(0)));
}

}  // namespace
}  // namespace ulix_auth
