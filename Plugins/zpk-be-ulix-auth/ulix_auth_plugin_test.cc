// The sign-on plug-in under a host that calls back into it from inside its own calls, on the
// same thread or on another thread that the call waits for. Every other behaviour of the
// plug-in is written as scenarios in testdata/ (scenario_test.cc).
#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
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
using ulix_testing::kRevokeUrl;
using ulix_testing::kTokenUrl;
using ulix_testing::kUserInfoUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::ServiceToken;
using ulix_testing::TokenReply;

constexpr std::uint32_t kGet = kHostMethodGet;
constexpr std::uint32_t kPost = kHostMethodPost;
constexpr std::uint32_t kDelete = kHostMethodDelete;

constexpr const char* kAuthorization = "/ulix-auth/v1/authorization";
constexpr const char* kGas = "/ulix-auth/v1/authorization/gas";
constexpr const char* kRefresh = "/ulix-auth/v1/authorization/refresh";
constexpr const char* kError = "/ulix-auth/v1/authorization/error";
constexpr const char* kNoAuthorization = "404 No authorization currently exists.";
constexpr const char* kNoError = "404 No error from last authentication.";
constexpr const char* kStatus = "/ulix-auth/v1/status/NA1";
constexpr const char* kRegionStatus =
    R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})";
constexpr const char* kPlayer2 =
    R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})";

std::string ErrorBody(std::string_view error, std::string_view description) {
  return "{\"error\":\"" + std::string(error) + "\",\"error_description\":\"" +
         std::string(description) + "\"}";
}

const std::vector<std::string> kSignOnCreates = {
    "change Create /ulix-auth/v1/authorization",
    "change Create /ulix-auth/v1/authorization/access-token",
    "change Create /ulix-auth/v1/authorization/id-token",
    "change Create /ulix-auth/v1/authorization/entitlements-token"};
const std::vector<std::string> kSignOffDeletes = {
    "change Delete /ulix-auth/v1/authorization/userinfo",
    "change Delete /ulix-auth/v1/authorization",
    "change Delete /ulix-auth/v1/authorization/access-token",
    "change Delete /ulix-auth/v1/authorization/id-token"};

// `first` followed by `then`.
std::vector<std::string> Then(std::vector<std::string> first,
                              const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
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
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return signed_off; }));
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
