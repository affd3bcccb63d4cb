// Calls in flight: reads while the service holds a refresh, which must not wait for it, and stop
// while calls are in flight, on another thread or on the stopping thread itself. Meant also for
// the ThreadSanitizer build, where they must run clean.
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth::stress {
namespace {

using ulix_testing::AccessTokenFor;
using ulix_testing::IdTokenText;
using ulix_testing::kAccessTokenPath;
using ulix_testing::kAuthorizationPath;
using ulix_testing::kDiscoveryUrl;
using ulix_testing::kPlayer1;
using ulix_testing::kStatusPath;
using ulix_testing::kTokenUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::TokenReply;

constexpr const char* kStatusRecord =
    R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})";

// A manual refresh on a thread of its own, which the service holds inside its token exchange
// until Release; the hold gives up after a minute, failing the test.
class HeldRefresh {
 public:
  explicit HeldRefresh(PluginTestHost& test) {
    test.service().Answer(kTokenUrl, TokenReply(AccessTokenFor("player-2")));
    test.service().OnExchange([this](const std::string& url, const std::string& body) {
      if (url != kTokenUrl || body.find("grant_type=refresh_token") == std::string::npos) return;
      held_.set_value();
      EXPECT_EQ(released_.wait_for(std::chrono::minutes(1)), std::future_status::ready);
    });
    answer_ = std::async(std::launch::async, [&test] {
      return test.Text(kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
    });
    held_future_.wait();
  }
  // Whether the refresh is still in its exchange.
  bool holding() {
    return answer_.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
  }
  std::string Release() {
    release_.set_value();
    return answer_.get();
  }

 private:
  std::promise<void> held_, release_;
  std::future<void> held_future_ = held_.get_future();
  std::shared_future<void> released_ = release_.get_future().share();
  std::future<std::string> answer_;
};

// While the service holds a refresh, a status read that finds the discovery record expired
// fetches it again itself, and every resource answers from the state as it stood before the
// refresh, the refresh still held: no read waited for it. The sign-on's own timer, due then,
// meets the stale-token rule.
TEST(CallsInFlight, ReadsAnswerWhileTheServiceHoldsARefresh) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn(), kPlayer1);
  test.TakeChanges();
  test.Advance(400);  // past the discovery record's 300 s, before the refresh is due
  const int fetches = test.service().RequestCount(kDiscoveryUrl);

  HeldRefresh refresh(test);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(test.Text(kHostMethodGet, kStatusPath), kStatusRecord);
  EXPECT_EQ(test.service().RequestCount(kDiscoveryUrl), fetches + 1);
  test.Advance(4000);
  const std::pair<const char*, std::string> reads[] = {
      {kAuthorizationPath, kPlayer1},
      {kAccessTokenPath,
       R"({"expiry":1900000000,"scopes":["openid","kiv"],"token":")" + AccessTokenFor() + "\"}"},
      {"/ulix-auth/v1/authorization/id-token",
       R"({"expiry":1900000100,"token":")" + IdTokenText() + "\"}"},
      {"/ulix-auth/v1/authorization/error", "404 No error from last authentication."},
      {"/ulix-auth/v1/authorization/userinfo",
       "404 No UserInfo currently exists. Are you logged in?"},
      {kStatusPath, kStatusRecord},
  };
  for (const auto& [path, answer] : reads) EXPECT_EQ(test.Text(kHostMethodGet, path), answer);
  EXPECT_TRUE(refresh.holding());
  const std::string player2 =
      R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})";
  EXPECT_EQ(refresh.Release(), player2);

  EXPECT_EQ(test.Text(kHostMethodGet, kAuthorizationPath), player2);
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 2);  // the sign-on and one refresh
  int stale = 0;
  for (const auto& line : test.host().LogLines()) {
    stale += line.message == "Attempted token refresh, but authorization has already changed.";
  }
  EXPECT_EQ(stale, 1);
  EXPECT_EQ(test.TakeChanges(),
            std::vector<std::string>{std::string("Update ") + kAccessTokenPath});
}

// Stop waits for a call in flight on another thread, which then commits nothing; a stop made
// on the thread of a call in flight (from inside its exchange) frees nothing that call uses.
TEST(CallsInFlight, StopWaitsForOtherThreadsCallsAndFreesNothingItsOwnStillUse) {
  {
    PluginTestHost test;
    test.Start();
    ASSERT_EQ(test.SignOn(), kPlayer1);
    test.TakeChanges();
    const ULIXAuthPlugin& plugin = test.plugin();
    HeldRefresh refresh(test);
    std::future<void> stopped = std::async(std::launch::async, [&] { test.Stop(); });
    while (!plugin.stopping()) std::this_thread::yield();
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_EQ(refresh.Release(), "500 Internal server error");
    stopped.get();
    EXPECT_TRUE(test.TakeChanges().empty());
  }
  PluginTestHost test;
  test.Start();
  test.service().OnExchange([&](const std::string& url, const std::string&) {
    if (url == kTokenUrl) test.Stop();
  });
  EXPECT_EQ(test.SignOn(), "500 Internal server error");
  EXPECT_TRUE(test.TakeChanges().empty());
}

}  // namespace
}  // namespace ulix_auth::stress
