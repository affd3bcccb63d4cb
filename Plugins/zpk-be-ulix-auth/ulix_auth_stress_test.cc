// Eight host threads at once on one plug-in: sign-on, reads, refreshes by hand and by timer,
// configuration changes and sign-off; and reads while the service holds a refresh. Meant for the
// ThreadSanitizer build, where they must run clean; in every build the first checks that no
// change event is lost, sent twice or reordered, the second that no read waits for an exchange.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth {
namespace {

using ulix_testing::AccessTokenFor;
using ulix_testing::FakeHost;
using ulix_testing::IdTokenText;
using ulix_testing::kDiscoveryUrl;
using ulix_testing::kTokenUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::TokenReply;
constexpr int kThreads = 8;
constexpr int kRoundsPerThread = 150;

TEST(ConcurrentHost, KeepsEveryChangeEventOnceAndInOrder) {
  PluginTestHost test;
  std::atomic<int> next_token{0};
  // Token requests: sign-ons succeed; refreshes mostly succeed, some fail for a retry, a few are
  // refused. Counts how many token requests overlap.
  test.service().Respond(kTokenUrl, [&](const std::string&, const std::string& body) {
    const int n = next_token++;
    FakeHost::HttpAnswer reply = TokenReply(AccessTokenFor("p" + std::to_string(n)));
    if (body.find("grant_type=refresh_token") != std::string::npos) {
      if (n % 7 == 3) reply = {0, 503, R"({"error":"server_error","error_description":"busy"})"};
      if (n % 11 == 5) reply = {0, 400, R"({"error":"invalid_grant","error_description":"no"})"};
    }
    return reply;
  });
  test.Start();
  test.TakeChanges();

  std::atomic<int> sign_ons{0}, sign_offs{0};
  // Each thread takes the steps in turn, from its own first one.
  const auto sign_on = [&](int) { sign_ons += test.SignOn().error.empty() ? 1 : 0; };
  const std::function<void(int thread)> steps[] = {
      sign_on,
      [&](int) {
        test.Send(kHostMethodGet, "/ulix-auth/v1/authorization/access-token");
        test.Send(kHostMethodGet, "/ulix-auth/v1/authorization");
      },
      [&](int) { test.Send(kHostMethodPost, "/ulix-auth/v1/authorization/refresh"); },
      [&](int) { test.host().FireScheduled(); },
      sign_on,
      [&](int thread) {
        if (thread % 2 == 0) {
          test.Send(kHostMethodPost, "/ulix-auth/v2/config",
                    R"({"url":"https://auth.test","clientId":"other"})");
        } else {
          test.Send(kHostMethodDelete, "/ulix-auth/v2/config");
        }
      },
      [&](int) {
        test.Send(kHostMethodGet, "/ulix-auth/v1/status/NA1");
        test.Send(kHostMethodGet, "/ulix-auth/v1/authorization/error");
      },
      [&](int) {
        sign_offs += test.Send(kHostMethodDelete, "/ulix-auth/v1/authorization").status != 404;
      },
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRoundsPerThread; ++round) steps[(round + t) % 8](t);
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
  int creates = 0, deletes = 0, updates = 0;
  bool present = false;  // whether an authorization exists after the changes read so far
  for (const std::string& change : changes) {
    const bool create = change == "Create /ulix-auth/v1/authorization";
    const bool remove = change == "Delete /ulix-auth/v1/authorization";
    const bool update = change == "Update /ulix-auth/v1/authorization/access-token";
    if (create || remove || update) {
      EXPECT_EQ(present, !create) << "out of order: " << change;
    }
    present = create || (present && !remove);
    creates += create;
    deletes += remove;
    updates += update;
  }
  // The state agrees with the last change of each path: the authorization exists exactly when
  // its last change is a Create, and the access token is the one announced last.
  EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").error.empty(), present);
  for (std::size_t i = changes.size(); i-- > 0;) {
    if (changes[i].ends_with(" /ulix-auth/v1/authorization/access-token")) {
      EXPECT_EQ(
          test.Text(kHostMethodGet, "/ulix-auth/v1/authorization/access-token"),
          changes[i].starts_with("Delete") ? "404 No authorization currently exists." : data[i]);
      break;
    }
  }
  EXPECT_GT(sign_ons.load(), 0);
  EXPECT_EQ(creates, sign_ons.load());
  EXPECT_EQ(deletes, sign_offs.load() + refused);
  EXPECT_EQ(updates, refreshed);
  // Sign-on: 4 changes; sign-off: 4; refusal: 6; refresh: 1.
  EXPECT_EQ(changes.size(),
            static_cast<std::size_t>(4 * sign_ons + 4 * sign_offs + 6 * refused + refreshed));
}

constexpr const char* kRefreshedAuthorization =
    R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-2"})";
constexpr const char* kStatusRecord =
    R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})";

// A manual refresh on a thread of its own, which the service holds until Release (five seconds
// at most, so that a plug-in whose reads wait for it still lets the test end).
class HeldRefresh {
 public:
  explicit HeldRefresh(PluginTestHost& test) : test_(test) {
    test_.service().Respond(
        kTokenUrl, [this](const std::string&, const std::string& body) { return Serve(body); });
    thread_ = std::thread(
        [this] { answer_ = test_.Text(kHostMethodPost, "/ulix-auth/v1/authorization/refresh"); });
  }
  ~HeldRefresh() { Release(); }

  // Waits until the service holds the refresh; false if it never arrives.
  bool WaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return holding_; });
  }
  bool holding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return holding_;
  }
  // Lets the refresh go and returns its answer; fails the test if the service gave up holding it
  // before.
  std::string Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    EXPECT_TRUE(held_until_released_) << "the hold ended before the release";
    return answer_;
  }

 private:
  FakeHost::HttpAnswer Serve(const std::string& body) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (body.find("grant_type=refresh_token") != std::string::npos) {
      holding_ = true;
      changed_.notify_all();
      held_until_released_ =
          changed_.wait_for(lock, std::chrono::seconds(5), [this] { return released_; });
      holding_ = false;
    }
    return TokenReply(AccessTokenFor("player-2"));
  }

  PluginTestHost& test_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool holding_ = false;
  bool released_ = false;
  bool held_until_released_ = false;
  std::string answer_;
  std::thread thread_;
};

// The service holds a refresh until the readers are done while eight threads read every
// resource: each read answers from the state as it stood before the refresh, and they all
// finish while the refresh is provably still held, so none of them waited for it.
TEST(ConcurrentHost, ReadsAnswerWhileTheServiceHoldsARefresh) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  test.TakeChanges();

  HeldRefresh refresh(test);
  ASSERT_TRUE(refresh.WaitHeld());
  // The sign-on's own timer, due for the tokens being replaced, waits for the refresh and then
  // meets the stale-token rule.
  std::thread timer([&] { test.Advance(4000); });

  const std::string old_token =
      R"({"expiry":1900000000,"scopes":["openid","kiv"],"token":")" + AccessTokenFor() + "\"}";
  const struct {
    const char* path;
    std::string answer;
  } reads[] = {
      {"/ulix-auth/v1/authorization",
       R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-1"})"},
      {"/ulix-auth/v1/authorization/access-token", old_token},
      {"/ulix-auth/v1/authorization/id-token",
       R"({"expiry":1900000100,"token":")" + IdTokenText() + "\"}"},
      {"/ulix-auth/v1/authorization/error", "404 No error from last authentication."},
      {"/ulix-auth/v1/authorization/userinfo",
       "404 No UserInfo currently exists. Are you logged in?"},
      {"/ulix-auth/v1/status/NA1", kStatusRecord},
  };
  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        const auto& read = reads[(round + t) % std::size(reads)];
        EXPECT_EQ(test.Text(kHostMethodGet, read.path), read.answer) << read.path;
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  // Still held: not one of the reads waited for the exchange to end.
  EXPECT_TRUE(refresh.holding());
  EXPECT_EQ(refresh.Release(), kRefreshedAuthorization);
  timer.join();

  EXPECT_EQ(test.Text(kHostMethodGet, "/ulix-auth/v1/authorization"), kRefreshedAuthorization);
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 2);  // the sign-on and one refresh
  EXPECT_EQ(test.LoggedLine("Attempted token refresh"),
            "Attempted token refresh, but authorization has already changed.");
  EXPECT_THAT(test.TakeChanges(),
              ::testing::ElementsAre("Update /ulix-auth/v1/authorization/access-token"));
}

// A status read that finds the discovery record expired fetches it again itself, also while a
// writer's exchange is in flight, and the record it fetched serves the reads after it.
TEST(ConcurrentHost, AnExpiredDiscoveryIsFetchedByTheReaderWhileAWriterRuns) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  test.Advance(400);  // past the record's 300 s, before the refresh is due
  const int fetches = test.service().RequestCount(kDiscoveryUrl);
  {
    HeldRefresh refresh(test);
    ASSERT_TRUE(refresh.WaitHeld());
    EXPECT_EQ(test.Text(kHostMethodGet, "/ulix-auth/v1/status/NA1"), kStatusRecord);
    EXPECT_EQ(test.service().RequestCount(kDiscoveryUrl), fetches + 1);
    EXPECT_TRUE(refresh.holding());
    EXPECT_EQ(refresh.Release(), kRefreshedAuthorization);
  }
  EXPECT_EQ(test.Text(kHostMethodGet, "/ulix-auth/v1/status/NA1"), kStatusRecord);
  EXPECT_EQ(test.service().RequestCount(kDiscoveryUrl), fetches + 1);
}

// Stop waits for a call in flight on another thread, which then commits nothing; a stop made
// on the thread of a call in flight (from inside its exchange) frees nothing that call uses.
TEST(Stop, WaitsForOtherThreadsCallsAndFreesNothingItsOwnStillUse) {
  {
    PluginTestHost test;
    test.Start();
    ASSERT_EQ(test.SignOn().error, "");
    test.TakeChanges();
    const ULIXAuthPlugin& plugin = test.plugin();
    HeldRefresh refresh(test);
    ASSERT_TRUE(refresh.WaitHeld());
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
      test.Stop();
      stopped = true;
    });
    while (!plugin.stopping()) std::this_thread::yield();
    EXPECT_FALSE(stopped.load());
    EXPECT_EQ(refresh.Release(), "500 Internal server error");
    stopper.join();
    EXPECT_THAT(test.TakeChanges(), ::testing::IsEmpty());
  }
  PluginTestHost test;
  test.Start();
  test.service().OnExchange([&](const std::string& url, const std::string&) {
    if (url == kTokenUrl) test.Stop();
  });
  EXPECT_EQ(test.SignOn().error, "Internal server error");
  EXPECT_THAT(test.TakeChanges(), ::testing::IsEmpty());
}

}  // namespace
}  // namespace ulix_auth
