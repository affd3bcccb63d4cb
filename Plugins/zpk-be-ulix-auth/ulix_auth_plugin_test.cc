// The sign-on plug-in under a host that calls back into it from inside its own calls, on the
// same thread or on another thread that the call waits for. Every other behaviour of the
// plug-in is written as scenarios in testdata/ (scenario_test.cc).
#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth {
namespace {

using ulix_testing::AccessTokenFor;
using ulix_testing::ConfigToken;
using ulix_testing::FakeHost;
using ulix_testing::kAuthorizationPath;
using ulix_testing::kPlayer1;
using ulix_testing::kRevokeUrl;
using ulix_testing::kTokenUrl;
using ulix_testing::kUserInfoUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::ServiceToken;
using ulix_testing::TokenReply;

constexpr const char* kNoAuthorization = "404 No authorization currently exists.";
constexpr const char* kSignedOnTwice =
    "400 Tried to create an authorization when one already exists.";
constexpr const char* kNoUserInfo = "404 No UserInfo currently exists. Are you logged in?";
constexpr const char* kPlayer2 =
    R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})";
// The changes of a sign-on, a sign-off and a refresh, "<eventType> <path under /ulix-auth/v1/>,"
// each.
const std::string kCreates =
    "Create authorization,Create authorization/access-token,Create authorization/id-token,"
    "Create authorization/entitlements-token,";
const std::string kDeletes =
    "Delete authorization/userinfo,Delete authorization,Delete authorization/access-token,"
    "Delete authorization/id-token,";
const std::string kUpdate = "Update authorization/access-token,";

// One call made by the host: method, path under /ulix-auth/v1/ and body.
struct Call {
  std::uint32_t method;
  std::string path;
  std::optional<std::string> body = std::nullopt;
};
Call Gas(const std::string& user, const std::string& password) {
  return {kHostMethodPost, "authorization/gas",
          R"({"username":")" + user + R"(","password":")" + password + R"(","platformId":"NA1"})"};
}

// The outer call runs; inside the first exchange of `hook` (a URL), or the first Create of `hook`
// (a path) the plug-in sends, the host makes the inner call, on the same thread or on another
// thread that the exchange waits for. Either way the outcome is one of the two serial orders:
// the answers, the changes sent after the setup and GET answers read at the end.
TEST(Reentry, EveryNestingEndsInOneOfTheSerialOrders) {
  // Where the client of ConfigToken() looks for its discovery document.
  const std::string jwt_discovery = "https://jwt.test/.well-known/openid-configuration";
  const std::string other_token =
      ServiceToken(R"({"aud":"https://other.test/token","sub":"other-client"})");
  const Call config{kHostMethodPost, "config", R"({"token":")" + ConfigToken() + "\"}"};
  const Call other_config{kHostMethodPost, "config", R"({"token":")" + other_token + "\"}"};
  const Call refresh{kHostMethodPost, "authorization/refresh"};
  const Call sign_off{kHostMethodDelete, "authorization"};
  const struct {
    const char* name;
    bool signed_on;
    Call outer;
    std::string hook;
    Call inner;
    std::string outer_answer, inner_answer, changes;
    std::vector<std::pair<std::string, std::string>> reads;
    std::vector<FakeHost::HttpAnswer> token_answers = {};  // queued, in request order
  } rows[] = {
      // clang-format off
      {"config replaced inside its own discovery fetch", false, config, jwt_discovery, other_config, "null", "null", "",
       {{"config/NA1", R"({"token":")" + other_token + "\"}"}}},
      {"override dropped inside its own discovery fetch", false, config, jwt_discovery, {kHostMethodDelete, "config"}, "null", "null", "",
       {{"status/NA1", R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})"}}},
      {"sign-off inside a refresh's token exchange", true, refresh, kTokenUrl, sign_off, kNoAuthorization, "null", kDeletes,
       {{"authorization", kNoAuthorization}}},
      {"second sign-on inside the first's token exchange", false, Gas("ann", "pw"), kTokenUrl, Gas("bob", "pw"), kSignedOnTwice, kPlayer1, kCreates,
       {{"authorization", kPlayer1}, {"authorization/error", "404 No error from last authentication."}}},
      {"failed sign-on around a successful one", false, Gas("ann", "no"), kTokenUrl, Gas("bob", "pw"), kSignedOnTwice, kPlayer1, kCreates,
       {{"authorization", kPlayer1}, {"authorization/error", "404 No error from last authentication."}},
       {TokenReply(AccessTokenFor()), {0, 401, R"({"error":"invalid_grant","error_description":"no"})"}}},
      {"user info fetched while a sign-off runs", true, {kHostMethodPost, "authorization/userinfo"}, kUserInfoUrl, sign_off, kNoUserInfo, "null", kDeletes,
       {{"authorization/userinfo", kNoUserInfo}}},
      {"sign-off inside a sign-off's revocation", true, sign_off, kRevokeUrl, sign_off, "null", kNoAuthorization, kDeletes,
       {{"authorization", kNoAuthorization}}},
      {"sign-off inside the sign-on's first Create", false, Gas("ann", "pw"), kAuthorizationPath, sign_off, kPlayer1, "null", kCreates + kDeletes,
       {{"authorization", kNoAuthorization}}},
      {"refresh inside a refresh's token exchange", true, refresh, kTokenUrl, refresh, kPlayer2, kPlayer1, kUpdate,
       {{"authorization", kPlayer2}}},
      // clang-format on
  };
  for (const bool other_thread : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (other_thread ? ", on another thread" : ""));
      PluginTestHost test;
      test.Start();
      if (row.signed_on) {
        ASSERT_EQ(test.SignOn(), kPlayer1);
      }
      test.service().Answer(kTokenUrl,
                            TokenReply(AccessTokenFor(row.signed_on ? "player-2" : "player-1")));
      if (!row.token_answers.empty()) test.service().Answer(kTokenUrl, row.token_answers);
      test.service().Answer(kUserInfoUrl, {0, 200, R"({"sub":"player-1"})"});
      test.TakeChanges();
      const auto send = [&test](const Call& call) {
        return test.Text(call.method, "/ulix-auth/v1/" + call.path, call.body);
      };

      std::atomic<bool> fired{false};
      std::string inner_answer = "(not called)";
      const auto call_inner = [&] {
        if (fired.exchange(true)) return;
        if (!other_thread) return void(inner_answer = send(row.inner));
        // The host's one network thread: the exchange waits for the inner call to end.
        std::packaged_task<void()> task([&] { inner_answer = send(row.inner); });
        std::future<void> done = task.get_future();
        std::thread(std::move(task)).detach();
        ASSERT_EQ(done.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "deadlock";
      };
      test.service().OnExchange([&](const std::string& url, const std::string&) {
        if (url == row.hook) call_inner();
      });
      if (row.hook.starts_with("/")) {
        test.plugin().observeResource(row.hook, [&](const Vorn::Client::PluginResourceEvent& e) {
          if (e.eventType == Vorn::Client::PluginResourceEventType::kCreate) call_inner();
        });
      }
      EXPECT_EQ(send(row.outer), row.outer_answer);
      EXPECT_EQ(inner_answer, row.inner_answer);
      std::string changes;
      for (std::string& change : test.TakeChanges()) {
        changes += change.erase(change.find(' ') + 1, std::strlen("/ulix-auth/v1/")) + ",";
      }
      EXPECT_EQ(changes, row.changes);
      for (const auto& [path, answer] : row.reads) {
        EXPECT_EQ(test.Text(kHostMethodGet, "/ulix-auth/v1/" + path), answer) << path;
      }
    }
  }
}

}  // namespace
}  // namespace ulix_auth
