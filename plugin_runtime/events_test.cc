// Event names, publishing, counted subscriptions, observers, delayed callbacks and stop, driven
// through the fake host's event bus and manual clock.
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/json_bridge.h"
#include "gtest/gtest.h"
#include "plugin_runtime/plugin_base.h"
#include "plugin_runtime/resource_paths.h"
#include "testing/fake_host.h"
#include "testing/started_plugin.h"

namespace plugin_runtime {
namespace {

using ulix_testing::FakeHost;
using ulix_testing::FakeValue;
using ulix_testing::StartedPlugin;
using Vorn::Client::PluginManagerResource;
using Vorn::Client::PluginManagerState;
using Vorn::Client::PluginResourceEvent;
using Vorn::Client::PluginResourceEventType;

struct NotRegistered {
  int n = 0;
};
ULIX_BINDING_TYPE(NotRegistered, "NotRegistered")

TEST(MatchesResourcePattern, StarTakesOneSegment) {
  const struct {
    const char* pattern;
    const char* path;
    bool matches;
  } cases[] = {
      {"/a/*/c", "/a/b/c", true},   {"/a/*/c", "/a/b/x/c", false},
      {"/a/*", "/a/b", true},       {"/a/*", "/a/b/c", false},
      {"/a/*", "/a/", true},        {"/a/b", "/a/b", true},
      {"/a/b", "/a/bc", false},     {"/a/b*", "/a/bcd", true},
      {"/a/*/c", "/a/b/c/", false}, {"*", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + c.path);
    EXPECT_EQ(MatchesResourcePattern(c.pattern, c.path), c.matches);
  }
}

TEST(publishResourceChange, SendsUnderThePathNameAndAgainAsJsonApiEvent) {
  FakeHost host;
  StartedPlugin plugin(host);
  ASSERT_TRUE(plugin
                  ->publishResourceChange(PluginResourceEventType::kUpdate,
                                          "/ulix-auth/v1/authorization/refresh",
                                          PluginManagerResource{PluginManagerState::kNotReady})
                  .ok());
  ASSERT_TRUE(plugin->publishResourceDelete("/ulix-auth/v1/authorization").ok());
  // A path whose own name is the given one is not sent twice.
  ASSERT_TRUE(plugin->publishResourceDelete("/").ok());

  const std::vector<FakeHost::SentEvent> sent = host.SentEvents();
  ASSERT_EQ(sent.size(), 5u);
  const std::string update =
      "{\"data\":{\"state\":\"NotReady\"},\"eventType\":\"Update\","
      "\"uri\":\"/ulix-auth/v1/authorization/refresh\"}";
  const std::string deletion =
      "{\"data\":null,\"eventType\":\"Delete\",\"uri\":\"/ulix-auth/v1/authorization\"}";
  EXPECT_EQ(sent[0].name, "OnJsonApiEvent_ulix-auth_v1_authorization");
  EXPECT_EQ(sent[0].value.Json(), update);
  EXPECT_EQ(sent[1].name, "OnJsonApiEvent");
  EXPECT_EQ(sent[1].value.Json(), update);
  EXPECT_EQ(sent[2].name, "OnJsonApiEvent_ulix-auth_v1_authorization");
  EXPECT_EQ(sent[2].value.Json(), deletion);
  EXPECT_EQ(sent[3].name, "OnJsonApiEvent");
  EXPECT_EQ(sent[4].name, "OnJsonApiEvent");
}

TEST(publishResourceChange, SendsNothingWhenTheDataDoesNotConvert) {
  FakeHost host;
  StartedPlugin plugin(host);
  auto result =
      plugin->publishResourceChange(PluginResourceEventType::kCreate, "/a", NotRegistered{});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.status(), 500);
  EXPECT_EQ(result.message(),
            "Couldn't convert native value because it's an unregistered structure.");
  EXPECT_TRUE(host.SentEvents().empty());
}

TEST(Subscription, CountsPerEventFamilyAndStaysSilentInTheLog) {
  FakeHost host;
  StartedPlugin plugin(host);
  const std::size_t at_start = host.Subscriptions().size();
  host.ClearLog();

  plugin->subscribe("/ulix-auth/v1/authorization/access-token");
  plugin->subscribe("/ulix-auth/v1/authorization/id-token");
  ASSERT_EQ(host.Subscriptions().size(), at_start + 1);
  const FakeHost::Subscription added = host.Subscriptions().back();
  EXPECT_EQ(added.name, "OnJsonApiEvent_ulix-auth_v1_authorization");
  EXPECT_EQ(added.plugin_handle, 7u);
  EXPECT_EQ(added.flag, 0);

  plugin->unsubscribe("/ulix-auth/v1/authorization/id-token");
  EXPECT_TRUE(host.Unsubscriptions().empty());
  plugin->unsubscribe("/ulix-auth/v1/authorization/access-token");
  ASSERT_EQ(host.Unsubscriptions().size(), 1u);
  EXPECT_EQ(host.Unsubscriptions()[0].name, "OnJsonApiEvent_ulix-auth_v1_authorization");
  // One unsubscribe too many changes nothing.
  plugin->unsubscribe("/ulix-auth/v1/authorization/access-token");
  EXPECT_EQ(host.Unsubscriptions().size(), 1u);
  // Trace points go to a suppressed group.
  EXPECT_TRUE(host.LogLines().empty());
}

TEST(observeResource, ReadsTheResourceFirstThenFollowsItsChanges) {
  FakeHost host;
  host.ScriptResource("/plugin-manager/v1/status",
                      FakeValue::Object({{"state", FakeValue::Text("NotReady")}}));
  StartedPlugin plugin(host);
  std::vector<std::string> seen;
  plugin->observeResource("/plugin-manager/v1/status", [&](const PluginResourceEvent& event) {
    seen.push_back(std::to_string(static_cast<int>(event.eventType)) + " " + event.uri + " " +
                   binding::toJson(event.data));
  });
  // The plug-in's own publication comes back through the host's bus.
  ASSERT_TRUE(
      plugin
          ->publishResourceChange(PluginResourceEventType::kUpdate, "/plugin-manager/v1/status",
                                  PluginManagerResource{PluginManagerState::kPluginsInitialized})
          .ok());
  // An event whose uri lacks the leading "/" still finds the observer; one whose payload is
  // not a resource event is dropped.
  host.Deliver("OnJsonApiEvent_plugin-manager_v1_status",
               FakeValue::Object({{"uri", FakeValue::Text("plugin-manager/v1/status")},
                                  {"eventType", FakeValue::Text("Delete")}}));
  host.Deliver("OnJsonApiEvent_plugin-manager_v1_status", FakeValue::Text("garbage"));

  EXPECT_EQ(seen, (std::vector<std::string>{
                      "0 /plugin-manager/v1/status {\"state\":\"NotReady\"}",
                      "1 /plugin-manager/v1/status {\"state\":\"PluginsInitialized\"}",
                      "2 plugin-manager/v1/status ",
                  }));
}

TEST(observeResource, WildcardObserversReceiveMatchingPathsOnly) {
  FakeHost host;
  StartedPlugin plugin(host);
  std::vector<std::string> middle;
  std::vector<std::string> tail;
  plugin->observeResource("/a/*/c", [&](const PluginResourceEvent& e) { middle.push_back(e.uri); });
  plugin->observeResource("/a/*", [&](const PluginResourceEvent& e) { tail.push_back(e.uri); });
  // No initial read for patterns.
  EXPECT_TRUE(host.ResourceCalls().empty());

  for (const char* uri : {"/a/b/c", "/a/b/x/c", "/a/b", "/a/b/c/d"}) {
    host.Deliver("OnJsonApiEvent_a_*_c",
                 FakeValue::Object(
                     {{"uri", FakeValue::Text(uri)}, {"eventType", FakeValue::Text("Update")}}));
  }
  EXPECT_EQ(middle, (std::vector<std::string>{"/a/b/c"}));
  EXPECT_EQ(tail, (std::vector<std::string>{"/a/b"}));
}

std::int64_t TenSeconds() { return 10'000'000'000; }

TEST(scheduleDelayed, CountsIdsAndMeasuresTheDelayOnTheMonotonicClock) {
  FakeHost host;
  StartedPlugin plugin(host);
  plugin->setMonotonicClock(&TenSeconds);
  std::vector<std::string> ran;

  EXPECT_EQ(plugin->scheduleDelayed("later", 12'500'000'000, [&] { ran.push_back("later"); }), 1u);
  EXPECT_EQ(plugin->scheduleDelayed("past", 1'000'000'000,
                                    [&] {
                                      ran.push_back("past");
                                      // Scheduling from inside a callback takes the next id.
                                      EXPECT_EQ(
                                          plugin->scheduleDelayed("again", TenSeconds(),
                                                                  [&] { ran.push_back("again"); }),
                                          3u);
                                    }),
            2u);
  const std::vector<FakeHost::ScheduledCallback> scheduled = host.Scheduled();
  ASSERT_EQ(scheduled.size(), 2u);
  EXPECT_EQ(scheduled[0].label, "later");
  EXPECT_DOUBLE_EQ(scheduled[0].delay_seconds, 2.5);
  EXPECT_EQ(scheduled[1].label, "past");
  EXPECT_DOUBLE_EQ(scheduled[1].delay_seconds, 0.0);

  EXPECT_EQ(host.AdvanceClock(0), 2u);
  EXPECT_EQ(ran, (std::vector<std::string>{"past", "again"}));
  EXPECT_EQ(plugin->pendingDelayedCount(), 1u);
  EXPECT_EQ(host.AdvanceClock(2.5), 1u);
  EXPECT_EQ(ran, (std::vector<std::string>{"past", "again", "later"}));
  EXPECT_EQ(plugin->pendingDelayedCount(), 0u);
}

// A host that runs a callback before scheduleCallback even returns.
void RunAtOnce(const HostFunctionTable*, const char*, HostDelayedCallback callback, void* context,
               double, std::int32_t) {
  callback(context);
}

TEST(scheduleDelayed, ReturnsTheIdWhenTheHostRunsTheCallbackBeforeReturning) {
  FakeHost host;
  host.mutable_functions()->scheduleCallback = &RunAtOnce;
  StartedPlugin plugin(host);
  int ran = 0;
  EXPECT_EQ(plugin->scheduleDelayed("now", 0, [&] { ++ran; }), 1u);
  EXPECT_EQ(plugin->scheduleDelayed("now", 0, [&] { ++ran; }), 2u);
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(plugin->pendingDelayedCount(), 0u);
}

TEST(scheduleDelayed, RemovesTheEntryOfACallbackThatThrows) {
  FakeHost host;
  StartedPlugin plugin(host);
  (void)plugin->scheduleDelayed("throws", 0, [] { throw std::runtime_error("callback fault"); });
  int ran = 0;
  (void)plugin->scheduleDelayed("after", 0, [&] { ++ran; });
  EXPECT_EQ(host.FireScheduled(), 2u);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(plugin->pendingDelayedCount(), 0u);
}

// Asks for delayed callbacks when it starts, as a plug-in that schedules its own work does.
class SchedulingPlugin : public PluginBase {
 public:
  explicit SchedulingPlugin(int& ran) : ran_(ran) {}
  bool onStart() override {
    for (const char* label : {"first", "second"}) {
      (void)scheduleDelayed(label, 0, [this] { ++ran_; });
    }
    return true;
  }

 private:
  int& ran_;
};

TEST(scheduleDelayed, CallbacksTheHostFiresAfterStopRunNothing) {
  // Driven only through the block and the entry table, as a host drives the library.
  FakeHost host;
  int ran = 0;
  HostInitBlock block{};
  block.major = 18;
  (new SchedulingPlugin(ran))->handshake(&block, "late");
  // The table lives in the plug-in object, which stop deletes.
  const PluginEntryTable entries = *block.entryTable;
  void* const context = block.context;
  ASSERT_TRUE(entries.start(context, host.context()));
  const std::vector<FakeHost::ScheduledCallback> late = host.Scheduled();
  ASSERT_EQ(late.size(), 2u);
  late[0].callback(late[0].context);
  EXPECT_EQ(ran, 1);
  entries.stop(context);

  // Another instance may take the first one's place, even its memory: the late callbacks (one of
  // them fired twice) reach neither.
  int other_ran = 0;
  StartedPlugin other(host, new SchedulingPlugin(other_ran));
  for (const FakeHost::ScheduledCallback& callback : late) callback.callback(callback.context);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(other_ran, 0);
  EXPECT_EQ(other->pendingDelayedCount(), 2u);
}

TEST(PluginStop, UnsubscribesEverythingAtTheHost) {
  FakeHost host;
  StartedPlugin plugin(host);
  // Start subscribed the three service-proxy events, with flag 1.
  const std::vector<FakeHost::Subscription> at_start = host.Subscriptions();
  ASSERT_EQ(at_start.size(), 3u);
  EXPECT_EQ(at_start[0].name, "OnServiceProxyUuidEvent");
  EXPECT_EQ(at_start[1].name, "OnServiceProxyMethodEvent");
  EXPECT_EQ(at_start[2].name, "OnServiceProxyAsyncEvent");
  for (const auto& subscription : at_start) EXPECT_EQ(subscription.flag, 1);

  plugin->subscribe("/x/y");
  plugin->observeResource("/p/*", [](const PluginResourceEvent&) {});
  (void)plugin->scheduleDelayed("never", 0, [] { ADD_FAILURE() << "ran after stop"; });
  EXPECT_EQ(host.ActiveSubscriptionCount(), 5u);
  plugin.Stop();

  EXPECT_EQ(host.ActiveSubscriptionCount(), 0u);
  std::vector<std::string> names;
  for (const auto& unsubscription : host.Unsubscriptions()) {
    EXPECT_EQ(unsubscription.plugin_handle, 7u);
    names.push_back(unsubscription.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                             "OnServiceProxyAsyncEvent", "OnJsonApiEvent_x_y",
                                             "OnJsonApiEvent_p_*"}));
}

}  // namespace
}  // namespace plugin_runtime
