// Eight host threads at once on one plug-in: sign-on, reads, refreshes by hand and by timer,
// configuration changes and sign-off; reads while the service holds a refresh; and stop while
// calls are in flight. Meant for the ThreadSanitizer build, where they must run clean; in every
// build the first checks that no change event is lost, sent twice or reordered, the second that
// no read waits for an exchange.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth::stress {
namespace {

using ulix_testing::AccessTokenFor;
using ulix_testing::FakeHost;
using ulix_testing::IdTokenText;
using ulix_testing::kDiscoveryUrl;
using ulix_testing::kTokenUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::TokenReply;

constexpr std::uint32_t kGet = kHostMethodGet;
constexpr std::uint32_t kPost = kHostMethodPost;
constexpr std::uint32_t kDelete = kHostMethodDelete;
constexpr const char* kAuthorization = "/ulix-auth/v1/authorization";
constexpr const char* kAccessToken = "/ulix-auth/v1/authorization/access-token";
constexpr const char* kRefresh = "/ulix-auth/v1/authorization/refresh";
constexpr const char* kStatus = "/ulix-auth/v1/status/NA1";
constexpr const char* kStatusRecord =
    R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})";
constexpr const char* kPlayer1 =
    R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-1"})";
constexpr const char* kPlayer2 =
    R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})";

TEST(ConcurrentHost, KeepsEveryChangeEventOnceAndInOrder) {
  PluginTestHost test;
  std::atomic<int> next_token{0};
  // Sign-ons succeed; refreshes mostly succeed, some fail for a retry, a few are refused.
  test.service().Respond(kTokenUrl, [&](const std::string&, const std::string& body) {
    const int n = next_token++;
    if (body.find("grant_type=refresh_token") != std::string::npos && n % 7 == 3) {
      return FakeHost::HttpAnswer{0, 503, R"({"error":"server_error"})"};
    }
    if (body.find("grant_type=refresh_token") != std::string::npos && n % 11 == 5) {
      return FakeHost::HttpAnswer{0, 400, R"({"error":"invalid_grant"})"};
    }
    return TokenReply(AccessTokenFor("p" + std::to_string(n)));
  });
  test.Start();
  test.TakeChanges();

  std::atomic<int> sign_ons{0}, sign_offs{0};
  // Each thread takes the steps in turn, from its own first one.
  const std::function<void(int thread)> steps[] = {
      [&](int) { sign_ons += test.SignOn().starts_with("{"); },
      [&](int) { test.Text(kGet, kAccessToken), test.Text(kGet, kAuthorization); },
      [&](int) { test.Text(kPost, kRefresh); },
      [&](int) { test.host().FireScheduled(); },
      [&](int) { sign_ons += test.SignOn().starts_with("{"); },
      [&](int thread) {
        if (thread % 2 == 0) {
          test.Text(kPost, "/ulix-auth/v2/config", R"({"url":"https://auth.test","clientId":"o"})");
        } else {
          test.Text(kDelete, "/ulix-auth/v2/config");
        }
      },
      [&](int) { test.Text(kGet, kStatus), test.Text(kGet, "/ulix-auth/v1/authorization/error"); },
      [&](int) { sign_offs += test.Text(kDelete, kAuthorization) == "null"; },
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 150; ++round) steps[(round + t) % 8](t);
    });
  }
  for (std::thread& thread : threads) thread.join();

  // TakeChanges fails the test for a change not sent under both names.
  std::vector<std::string> data;
  const std::vector<std::string> changes = test.TakeChanges(&data);
  int refreshed = 0, refused = 0;
  for (const auto& line : test.host().LogLines()) {
    refreshed += line.message == "Refresh successful.";
    refused += line.message.starts_with("Refresh failed - authorization should be deleted");
  }
  int counts[3] = {};    // creates, deletes, updates of the authorization
  bool present = false;  // whether an authorization exists after the changes read so far
  for (const std::string& change : changes) {
    const bool create = change == std::string("Create ") + kAuthorization;
    const bool remove = change == std::string("Delete ") + kAuthorization;
    const bool update = change == std::string("Update ") + kAccessToken;
    if (create || remove || update) {
      EXPECT_EQ(present, !create) << "out of order: " << change;
    }
    present = create || (present && !remove);
    counts[0] += create, counts[1] += remove, counts[2] += update;
  }
  EXPECT_GT(sign_ons.load(), 0);
  EXPECT_EQ(std::vector<int>(counts, counts + 3),
            (std::vector<int>{sign_ons, sign_offs + refused, refreshed}));
  // Sign-on: 4 changes; sign-off: 4; refusal: 6; refresh: 1.
  EXPECT_EQ(changes.size(),
            static_cast<std::size_t>(4 * sign_ons + 4 * sign_offs + 6 * refused + refreshed));
  // The state agrees with the last change of each path: the authorization exists exactly when
  // its last change is a Create, and the access token is the one announced last.
  EXPECT_EQ(test.Text(kGet, kAuthorization).starts_with("{"), present);
  for (std::size_t i = changes.size(); i-- > 0;) {
    if (changes[i].ends_with(kAccessToken)) {
      EXPECT_EQ(test.Text(kGet, kAccessToken), changes[i].starts_with("Delete")
                                                   ? "404 No authorization currently exists."
                                                   : data[i]);
      break;
    }
  }
}

// A manual refresh on a thread of its own, which the service holds inside its token exchange
// until Release; the hold gives up after a minute, failing the test.
class HeldRefresh {
 public:
  explicit HeldRefresh(PluginTestHost& test) {
    test.service().Answer(kTokenUrl, TokenReply(AccessTokenFor("player-2")));
    test.service().OnExchange([this](const std::string& url, const std::string& body) {
      if (url != kTokenUrl || body.find("grant_type=refresh_token") == std::string::npos) return;
      held_.set_value();
      EXPECT_EQ(release_.get_future().wait_for(std::chrono::minutes(1)), std::future_status::ready);
    });
    answer_ = std::async(std::launch::async, [&test] { return test.Text(kPost, kRefresh); });
    held_.get_future().wait();
  }
  // Whether the refresh is still in its exchange.
  bool holding() { return answer_.wait_for(std::chrono::seconds(0)) != std::future_status::ready; }
  std::string Release() {
    release_.set_value();
    return answer_.get();
  }

 private:
  std::promise<void> held_, release_;
  std::future<std::string> answer_;
};

// The service holds a refresh while a status read finds the discovery record expired and fetches
// it again itself, and then while eight threads read every resource: each read answers from
// the state as it stood before the refresh, and they all finish while the refresh is provably
// still held, so none of them waited for it.
TEST(ConcurrentHost, ReadsAnswerWhileTheServiceHoldsARefresh) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn(), kPlayer1);
  test.TakeChanges();
  test.Advance(400);  // past the discovery record's 300 s, before the refresh is due
  const int fetches = test.service().RequestCount(kDiscoveryUrl);

  HeldRefresh refresh(test);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(test.Text(kGet, kStatus), kStatusRecord);
  EXPECT_EQ(test.service().RequestCount(kDiscoveryUrl), fetches + 1);
  // The sign-on's own timer, due for the tokens being replaced, waits for the refresh and then
  // meets the stale-token rule.
  std::thread timer([&] { test.Advance(4000); });
  const struct {
    const char* path;
    std::string answer;
  } reads[] = {
      {kAuthorization, kPlayer1},
      {kAccessToken,
       R"({"expiry":1900000000,"scopes":["openid","kiv"],"token":")" + AccessTokenFor() + "\"}"},
      {"/ulix-auth/v1/authorization/id-token",
       R"({"expiry":1900000100,"token":")" + IdTokenText() + "\"}"},
      {"/ulix-auth/v1/authorization/error", "404 No error from last authentication."},
      {"/ulix-auth/v1/authorization/userinfo",
       "404 No UserInfo currently exists. Are you logged in?"},
      {kStatus, kStatusRecord},
  };
  std::vector<std::thread> readers;
  for (std::size_t t = 0; t < 8; ++t) {
    readers.emplace_back([&, t] {
      for (std::size_t round = 0; round < 50; ++round) {
        const auto& read = reads[(round + t) % std::size(reads)];
        EXPECT_EQ(test.Text(kGet, read.path), read.answer) << read.path;
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_TRUE(refresh.holding());
  EXPECT_EQ(refresh.Release(), kPlayer2);
  timer.join();

  EXPECT_EQ(test.Text(kGet, kAuthorization), kPlayer2);
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 2);  // the sign-on and one refresh
  std::vector<std::string> log;
  for (const auto& line : test.host().LogLines()) log.push_back(line.message);
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "Attempted token refresh, but authorization has already changed."),
            1);
  EXPECT_EQ(test.TakeChanges(), std::vector<std::string>{std::string("Update ") + kAccessToken});
}

// Stop waits for a call in flight on another thread, which then commits nothing; a stop made
// on the thread of a call in flight (from inside its exchange) frees nothing that call uses.
TEST(Stop, WaitsForOtherThreadsCallsAndFreesNothingItsOwnStillUse) {
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
