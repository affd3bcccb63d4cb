// Random answers of the sign-on service through the fake host: every outcome must be a value
// (success or a ULIXRequestError with a code the client can produce) and every answer the host
// lent must be given back.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"
#include "gtest/gtest.h"
#include "testing/compact_token.h"
#include "testing/fake_host.h"
#include "testing/http_script.h"
#include "testing/started_plugin.h"

namespace ulix_auth {
namespace {

using ulix_testing::FakeHost;

constexpr char kTokenUrl[] = "https://auth.example/token";
constexpr char kRevokeUrl[] = "https://auth.example/token/revoke";
constexpr char kDiscoveryUrl[] = "https://auth.example/.well-known/openid-configuration";
constexpr char kUserInfoUrl[] = "https://auth.example/userinfo";

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

std::int64_t now_ns = 0;
std::int64_t FakeNow() { return now_ns; }

bool IsKnownCode(const std::optional<ULIXRequestError>& error,
                 const std::vector<FakeHost::HttpCall>& calls, std::size_t before) {
  if (!error) return true;
  // Either one of the client's own codes or a status the host just reported.
  return error->code == kServiceUnreachable || error->code == kAnswerNotJson ||
         (error->code >= 0 && error->code < 1000 && calls.size() > before);
}

TEST(ULIXClientProperty, RandomAnswersGiveValuesAndAreAllGivenBack) {
  FakeHost host;
  ulix_testing::StartedPlugin plugin(host);
  plugin->setMonotonicClock(&FakeNow);
  ulix_testing::HttpScript script(host);
  ULIXClient client(*plugin);
  RandomAnswers answers(20261206);
  std::mt19937 choose(7);
  // Outcomes seen, so that a change of the generator cannot quietly test nothing.
  int signed_on = 0, unreachable = 0, not_json = 0, answered = 0;

  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE(round);
    for (const char* url : {kTokenUrl, kRevokeUrl, kDiscoveryUrl, kUserInfoUrl}) {
      script.Answer(url, {answers.Answer(), answers.Answer()});
    }
    now_ns += 100'000'000'000;  // discovery goes stale every third round
    const std::size_t before = host.HttpCalls().size();
    std::optional<ULIXRequestError> error;
    switch (choose() % 7) {
      case 0:
        EXPECT_NO_THROW(client.SetULIXConfig(
            ULIXClientConfig{kTokenUrl, "vc", choose() % 2 ? "a+b" : "", "openid", false}));
        break;
      case 1:
        EXPECT_NO_THROW(client.IsPlatformAvailable("EUW1"));
        EXPECT_NO_THROW(client.IsUserInfoEnabled("EUW1"));
        break;
      case 2:
        EXPECT_NO_THROW(error = client.LoginWithPassword("ann", "pw", "EUW1"));
        break;
      case 3:
        EXPECT_NO_THROW(error = client.RequestToken(RefreshTokenGrant("r")));
        break;
      case 4:
        EXPECT_NO_THROW(error = client.RevokeRefreshToken());
        break;
      case 5:
        EXPECT_NO_THROW(error = client.RequestUserInfo());
        break;
      default:
        client.SetDeviceSessionId("dsid");
        EXPECT_NO_THROW(client.FetchOpenIdConfiguration());
    }
    EXPECT_TRUE(IsKnownCode(error, host.HttpCalls(), before)) << error->code;
    if (client.tokens()) ++signed_on;
    if (error) {
      ++(error->code == kServiceUnreachable
             ? unreachable
             : (error->code == kAnswerNotJson ? not_json : answered));
    }
    EXPECT_EQ(script.outstanding(), 0u);
  }
  EXPECT_GT(host.HttpCalls().size(), 300u);
  EXPECT_GT(signed_on, 0);
  EXPECT_GT(unreachable, 0);
  EXPECT_GT(not_json, 0);
  EXPECT_GT(answered, 0);
}

}  // namespace
}  // namespace ulix_auth
