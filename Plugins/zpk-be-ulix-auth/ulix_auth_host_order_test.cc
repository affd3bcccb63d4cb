// The order in which the host hears of the plug-in's steps: start-up, sign-on without a
// configuration, and the change events of every step before the log line and timer that follow
// them, on one thread and with another thread sending its own events at the same time. Read from
// the test host's transcript, which holds every host call (log lines, events, timers, exchanges)
// in the order the host received them.
#include <chrono>
#include <condition_variable>
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

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ulix_testing::AccessTokenFor;
using ulix_testing::FakeHost;
using ulix_testing::FakeValue;
using ulix_testing::kTokenUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::TokenReply;

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

TEST(StartUp, SchedulesTheConfigurationBeforeSubscribingToThePluginManager) {
  PluginTestHost test;
  test.SetCommandLine(
      {"--ulix-auth.username=ann", "--ulix-auth.password=pw", "--ulix-auth.platform=NA1"});
  // The plug-in manager has initialised its plug-ins already: the subscription's first read
  // runs the command-line sign-on inside start, before the configuration callback has run.
  test.host().ScriptResource("/plugin-manager/v1/status",
                             FakeValue::Object({{"state", FakeValue::Text("PluginsInitialized")}}));
  test.Start(/*apply=*/false);
  std::vector<std::string> steps = Steps(test);
  // The runtime's own subscriptions come first.
  ASSERT_GE(steps.size(), 3u);
  steps.erase(steps.begin(), steps.begin() + 3);
  EXPECT_THAT(steps, ElementsAre("resource /vornclient/command-line-args",
                                 "resource /data-store/v1/install-settings/ulix-auth",
                                 "resource /vornclient/region-locale",
                                 "resource /data-store/v1/system-settings/region_data/NA1/ulix",
                                 "schedule configure-auth-client",
                                 "subscribe OnJsonApiEvent_plugin-manager_v1_status",
                                 "resource /plugin-manager/v1/status",
                                 // Nothing is sent without a configuration applied.
                                 "change Create /ulix-auth/v1/authorization",
                                 "change Create /ulix-auth/v1/authorization/access-token",
                                 "change Create /ulix-auth/v1/authorization/id-token",
                                 "change Create /ulix-auth/v1/authorization/entitlements-token",
                                 kRefreshWarning));
  EXPECT_EQ(test.service().RequestCount(kTokenUrl), 0);
  EXPECT_EQ(test.Text(kHostMethodGet, "/ulix-auth/v1/authorization"),
            "404 No authorization currently exists.");
}

TEST(SignOn, WithoutAConfigurationSendsNothing) {
  const struct {
    const char* name;
    bool region_settings;
    const char* answer;
    std::vector<std::string> steps;
  } rows[] = {
      {"configured, not yet applied: default records and no authorization",
       true,
       "404 No authorization currently exists.",
       {"change Create /ulix-auth/v1/authorization",
        "change Create /ulix-auth/v1/authorization/access-token",
        "change Create /ulix-auth/v1/authorization/id-token",
        "change Create /ulix-auth/v1/authorization/entitlements-token", kRefreshWarning}},
      {"no configuration at all",
       false,
       "500 Invalid ULIX Config.",
       {"log 3|ULIX not configured, but ULIX authorization requested."}},
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
    EXPECT_THAT(test.service().RequestedUrls(), IsEmpty());
    EXPECT_EQ(test.Text(kHostMethodGet, "/ulix-auth/v1/authorization"),
              "404 No authorization currently exists.");
    EXPECT_EQ(test.Text(kHostMethodGet, "/ulix-auth/v1/authorization/error"),
              "404 No error from last authentication.");
  }
}

TEST(SignOn, CreatesCarryTheDefaultRecordsWhenNothingWasSent) {
  PluginTestHost test;
  test.Start(/*apply=*/false);
  test.TakeChanges();
  test.SignOn();
  std::vector<std::string> data;
  test.TakeChanges(&data);
  EXPECT_THAT(data,
              ElementsAre(R"({"currentAccountId":0,"currentPlatformId":"","subject":""})",
                          R"({"expiry":0,"scopes":[],"token":""})", R"({"expiry":0,"token":""})",
                          R"({"entitlements":[],"expiry":0,"token":""})"));
}

TEST(EventOrder, EachStepSendsItsEventsBeforeTheLinesAndTimerThatFollowThem) {
  PluginTestHost test;
  test.Start();
  test.TakeTranscript();
  const FakeHost::HttpAnswer busy{0, 503, R"({"error":"server_error","error_description":"busy"})"};
  const FakeHost::HttpAnswer refused{0, 400,
                                     R"({"error":"invalid_grant","error_description":"no"})"};
  const struct {
    const char* name;
    std::optional<FakeHost::HttpAnswer> refresh;  // none: sign on
    std::vector<std::string> steps;
  } rows[] = {
      {"sign-on",
       std::nullopt,
       {"change Create /ulix-auth/v1/authorization",
        "change Create /ulix-auth/v1/authorization/access-token",
        "change Create /ulix-auth/v1/authorization/id-token",
        "change Create /ulix-auth/v1/authorization/entitlements-token",
        "log 3|Refreshing tokens in N seconds...", "schedule ulix-auth.refresh"}},
      {"refresh",
       TokenReply(AccessTokenFor("player-2")),
       {"log 3|Refresh successful.", "change Update /ulix-auth/v1/authorization/access-token",
        "log 3|Refreshing tokens in N seconds...", "schedule ulix-auth.refresh"}},
      {"refresh to retry",
       busy,
       {"log 3|Refresh failed due to error - should be retried: server_error - busy.",
        "log 3|Retrying authorization refresh in N seconds...", "schedule ulix-auth.refresh"}},
      {"refresh refused",
       refused,
       {"log 3|Refresh failed - authorization should be deleted: invalid_grant - no",
        "change Delete /ulix-auth/v1/authorization/userinfo",
        "change Delete /ulix-auth/v1/authorization",
        "change Delete /ulix-auth/v1/authorization/access-token",
        "change Delete /ulix-auth/v1/authorization/id-token",
        "change Delete /ulix-auth/v1/authorization/gas-token",
        "change Delete /ulix-auth/v1/authorization/entitlements-token"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.refresh) {
      test.service().AnswerOnce(kTokenUrl, *row.refresh);
      test.Send(kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
    } else {
      ASSERT_EQ(test.SignOn().error, "");
    }
    EXPECT_THAT(Steps(test), ElementsAreArray(row.steps));
  }
}

// Another thread is still sending the events of a sign-on (the host holds their delivery) when
// a sign-off arrives: the sign-off may wait, but it must not answer before its own events have
// been sent.
TEST(EventOrder, AHandlerAnswersOnlyAfterItsEventsWhileAnotherThreadIsSending) {
  PluginTestHost test;
  test.Start();
  std::mutex mutex;
  std::condition_variable changed;
  bool delivering = false;
  bool signed_off = false;
  bool held = false;
  test.plugin().observeResource(
      "/ulix-auth/v1/authorization", [&](const Vorn::Client::PluginResourceEvent& event) {
        if (event.eventType != Vorn::Client::PluginResourceEventType::kCreate) return;
        std::unique_lock<std::mutex> lock(mutex);
        if (held) return;
        held = true;
        delivering = true;
        changed.notify_all();
        // Released by the sign-off's answer. A plug-in that lets the sign-off wait for this
        // delivery never sends that signal; the bound only ends the hold then, and the
        // assertions below do not depend on it.
        changed.wait_for(lock, std::chrono::seconds(1), [&] { return signed_off; });
      });
  test.TakeChanges();

  std::thread sign_on([&] { EXPECT_EQ(test.SignOn().error, ""); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return delivering; });
  }
  std::vector<std::string> seen_at_answer;
  std::thread sign_off([&] {
    const PluginTestHost::Reply reply = test.Send(kHostMethodDelete, "/ulix-auth/v1/authorization");
    EXPECT_EQ(reply.error, "");
    for (const auto& event : test.host().SentEvents()) {
      const std::string json = event.value.Json();
      if (event.name.starts_with("OnJsonApiEvent_") &&
          json.find(R"("uri":"/ulix-auth/v1/authorization")") != std::string::npos) {
        seen_at_answer.push_back(json);
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    signed_off = true;
    changed.notify_all();
  });
  sign_on.join();
  sign_off.join();

  // The sign-on's Create and the sign-off's Delete, both sent before the sign-off answered.
  ASSERT_EQ(seen_at_answer.size(), 2u);
  EXPECT_THAT(seen_at_answer[0], ::testing::HasSubstr(R"("eventType":"Create")"));
  EXPECT_THAT(seen_at_answer[1], ::testing::HasSubstr(R"("eventType":"Delete")"));
  EXPECT_THAT(test.TakeChanges(),
              ElementsAre("Create /ulix-auth/v1/authorization",
                          "Create /ulix-auth/v1/authorization/access-token",
                          "Create /ulix-auth/v1/authorization/id-token",
                          "Create /ulix-auth/v1/authorization/entitlements-token",
                          "Delete /ulix-auth/v1/authorization/userinfo",
                          "Delete /ulix-auth/v1/authorization",
                          "Delete /ulix-auth/v1/authorization/access-token",
                          "Delete /ulix-auth/v1/authorization/id-token"));
}

}  // namespace
}  // namespace ulix_auth
