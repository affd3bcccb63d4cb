// What a started plug-in asks of its host and hears back, driven against the fake host: typed
// resource calls, HTTP, published and observed events, counted subscriptions, delayed callbacks,
// stop, the service-proxy queues, telemetry, install settings, the runtime's builtin
// registrations, and all of it from several host threads at once.
#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "binding/binding_type_registry.h"
#include "binding/json_bridge.h"
#include "gtest/gtest.h"
#include "plugin_runtime/install_settings.h"
#include "plugin_runtime/plugin_base.h"
#include "plugin_runtime/resource_paths.h"
#include "plugin_runtime/telemetry_sender.h"
#include "testing/endpoint_chooser.h"
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
using Vorn::Client::PluginServiceProxyResponse;
using Headers = std::vector<std::pair<std::string, std::string>>;

struct NotRegistered {
  int n = 0;
};
ULIX_BINDING_TYPE(NotRegistered, "NotRegistered")

// Each resource call the host received: "<method> <path>", then " <name>=<JSON>" per argument
// (an unnamed argument has an empty name).
std::vector<std::string> CallsOf(const FakeHost& host) {
  std::vector<std::string> calls;
  for (const FakeHost::ResourceCall& call : host.ResourceCalls()) {
    std::string text = std::to_string(call.method) + " " + call.path;
    for (const auto& [name, value] : call.arguments) text += " " + name + "=" + value.Json();
    calls.push_back(text);
  }
  return calls;
}

// Most tests need a plain plug-in started against a fake host; answers may be scripted after the
// start, since the host reads them when the call comes.
class Started : public ::testing::Test {
 protected:
  FakeHost host;
  StartedPlugin plugin{host};
};

// "ok", or "<status> <message>" of a failed call.
template <typename T>
std::string Show(const Vorn::RemotingTypedResult<T>& result) {
  return result.ok() ? "ok" : std::to_string(result.status()) + " " + result.message();
}

TEST_F(Started, TypedCallSendsArgumentsConvertsTheAnswerAndReportsEachFailure) {
  host.ScriptResource("/plugin-manager/v1/status",
                      FakeValue::Object({{"state", FakeValue::Text("PluginsInitialized")}}));
  host.ScriptResource("/store/x", FakeHost::ResourceAnswer());
  host.ScriptResource("/svc/down", {503, "service down", {}, std::nullopt, false});
  host.ScriptResource("/svc/broken-stream",
                      {200, "", {}, std::vector<std::string>{"{\"a\""}, true});
  host.ScriptResource("/svc/not-json", {200, "", {}, std::vector<std::string>{"{oops"}, false});
  host.ScriptResource("/svc/text", FakeValue::Text("abc"));

  auto state =
      plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/plugin-manager/v1/status");
  ASSERT_TRUE(state.ok()) << state.message();
  EXPECT_EQ(state.value().state, PluginManagerState::kPluginsInitialized);
  std::vector<std::string> outcomes = {
      Show(plugin->typedCall(kHostMethodPost, "/store/x", std::string("v"),
                             PluginManagerResource{PluginManagerState::kNotReady})),
      Show(plugin->typedCall<PluginManagerResource>(kHostMethodPut, "/svc/x", NotRegistered{}))};
  for (const char* path :
       {"/svc/down", "/svc/broken-stream", "/svc/not-json", "/svc/text", "/unscripted"}) {
    outcomes.push_back(Show(plugin->typedCall<PluginManagerResource>(kHostMethodGet, path)));
  }
  EXPECT_EQ(outcomes,
            (std::vector<std::string>{
                "ok",
                "400 Request not sent: Error converting parameters for PUT /svc/x: Couldn't "
                "convert native value because it's an unregistered structure.",
                "503 Error response for GET /svc/down: service down",
                "500 Error reading streamed response for GET /svc/broken-stream: Stream read error",
                "500 Error reading streamed response for GET /svc/not-json: Error: Missing a name "
                "for object member. at offset 1.",
                "500 Error converting response for GET /svc/text: Couldn't assign value to "
                "'<result>' of type PluginManagerResource because the input not a structure.",
                "404 Error response for GET /unscripted: Not found",
            }));
  // The call that was never sent has nothing to release; every other response went back.
  const std::vector<std::string> calls = CallsOf(host);
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0] + ", " + calls[1],
            R"(2 /plugin-manager/v1/status, 6 /store/x ="v" ={"state":"NotReady"})");
  EXPECT_EQ(host.ResourceCalls().at(0).caller_context, 7u);
  EXPECT_EQ(host.released_responses(), 7);
  EXPECT_EQ(host.closed_streams(), 2);
}

TEST_F(Started, TypedCallReadsAStreamInPiecesAndYieldsOnlyWhenShortOfData) {
  host.ScriptResource("/svc/pieces",
                      {200, "", {}, std::vector<std::string>{"{\"a\":", "", "[1,2]}"}, false});
  host.ScriptResource("/svc/full",
                      {200, "", {}, std::vector<std::string>{std::string(4096, 'x'), "y"}, false});

  auto value = plugin->typedCall<binding::BindingValue>(kHostMethodGet, "/svc/pieces");
  ASSERT_TRUE(value.ok()) << value.message();
  EXPECT_EQ(binding::toJson(value.value()), "{\"a\":[1,2]}");
  // Two short reads announced more data: the host was given two chances to produce it.
  EXPECT_EQ(host.WaitReasons(), (std::vector<std::string>{"Wait: yield", "Wait: yield"}));
  EXPECT_EQ(host.finish_wait_count(), 2);

  auto text = plugin->streamedCall(kHostMethodGet, "/svc/full");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text.value(), std::string(4096, 'x') + "y");
  EXPECT_EQ(host.yield_count(), 2);  // a full chunk is no reason to yield
  EXPECT_EQ(host.closed_streams(), 2);
}

// The transport result, "error <message>" or "ok", then the decoded value and the raw text.
std::string Outcome(const HttpResponse& response) {
  return std::to_string(static_cast<int>(response.transport)) + " " +
         (response.error ? "error " + response.message : "ok") + "|" +
         binding::toJson(response.value) + "|" + response.text;
}

TEST_F(Started, HttpSendsTheRequestReadsBodiesAndReportsEveryMessage) {
  HttpRequest request;
  request.method = kHostMethodPost;
  request.url = "https://s/t";
  const std::string converting = "0 error Error converting response for POST https://s/t: ";
  using enum HttpBodyForm;
  // Transport results: 0 success, 1 failure, 2 timed out, 3 cancelled.
  const std::tuple<FakeHost::HttpAnswer, HttpBodyForm, std::string> cases[] = {
      {{0, 200, "{\"a\":1}", {{"Content-Type", "application/json"}}}, kJson, "0 ok|{\"a\":1}|"},
      // A service's error status is no transport error.
      {{0, 400, "{}"}, kJson, "0 ok|{}|"},
      // A transport failure carries the host's text; any code unheard of is a failure.
      {{7, 0, "connection reset"}, kJson, "1 error connection reset||"},
      {{1, 0, "refused"}, kJson, "1 error refused||"},
      {{2, 0, "slow"}, kJson, "2 error slow||"},
      {{0xFFFFFFFFu, 0, "stopped"}, kJson, "-1 error stopped||"},
      {{0, 200, ""}, kJson, converting + "body was empty||"},
      {{0, 502, "<html>"},
       kJson,
       "0 error Error deserializing json response for POST https://s/t: Error: Invalid value. at "
       "offset 0. given body <html>|\"<html>\"|"},
      // Headers announced but missing.
      {{0, 200, "{}", {}, true}, kJson, converting + "headers was null||"},
      {{0, 200, "plain"}, kText, "0 ok||plain"},
      // A text body announced but missing.
      {{0, 200, std::nullopt, {}, false, 5}, kText, converting + "body was null||"},
  };
  int sent = 0;
  for (const auto& [answer, form, outcome] : cases) {
    SCOPED_TRACE(outcome);
    host.ScriptHttp(answer);
    EXPECT_EQ(Outcome(plugin->sendHttp(request, form)), outcome);
    EXPECT_EQ(host.released_http_responses(), ++sent);
  }

  // The request goes out whole, the runtime's user agent first unless it names one; a
  // successful exchange keeps its status and headers.
  host.ClearRecords();
  host.ScriptHttp({0, 201, std::string("ok"), {{"ETag", "x1"}, {"Content-Type", "text/plain"}}});
  request.headers = {{"Accept", "application/json"}};
  request.body = "a=b";
  request.timeout = 30;
  request.flag = 1;
  (void)plugin->sendHttp(request);
  request.headers = {{"User-Agent", "mine"}};
  (void)plugin->sendHttp(request);
  HttpResponse response = plugin->getText("https://sso.example/userinfo", {{"a", "b"}}, 10, 1);
  std::string answer = Outcome(response) + " " + std::to_string(response.status);
  for (const auto& [name, value] : response.headers) answer += " | " + name + ": " + value;
  EXPECT_EQ(answer, "0 ok||ok 201 | Content-Type: text/plain | ETag: x1");
  // "<method> <url> <body> <timeout> <flag>", then " | <name>: <value>" per header.
  std::vector<std::string> calls;
  for (const FakeHost::HttpCall& call : host.HttpCalls()) {
    calls.push_back(std::to_string(call.method) + " " + call.url + " " + call.body + " " +
                    std::to_string(call.timeout) + " " + std::to_string(call.flag));
    for (const auto& [name, value] : call.headers) calls.back() += " | " + name + ": " + value;
  }
  const std::string agent = " | user-agent: VornClient/18.0.0 (test)";
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "6 https://s/t a=b 30 1" + agent + " | Accept: application/json",
                       "6 https://s/t a=b 30 1 | User-Agent: mine",
                       "2 https://sso.example/userinfo  10 1" + agent + " | a: b",
                   }));
  EXPECT_EQ(host.released_http_responses(), sent + 3);
}

// Events, subscriptions, delayed callbacks and stop.

TEST(MatchesResourcePattern, StarTakesOneSegment) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"/a/*/c", "/a/b/c", true},   {"/a/*/c", "/a/b/x/c", false},
      {"/a/*", "/a/b", true},       {"/a/*", "/a/b/c", false},
      {"/a/*", "/a/", true},        {"/a/b", "/a/b", true},
      {"/a/b", "/a/bc", false},     {"/a/b*", "/a/bcd", true},
      {"/a/*/c", "/a/b/c/", false}, {"*", "", true},
  };
  for (const auto& [pattern, path, matches] : cases) {
    EXPECT_EQ(MatchesResourcePattern(pattern, path), matches) << pattern << " " << path;
  }
}

TEST_F(Started, PublishSendsUnderThePathNameAndAgainAsJsonApiEvent) {
  // Data that does not convert sends nothing.
  EXPECT_EQ(
      Show(plugin->publishResourceChange(PluginResourceEventType::kCreate, "/a", NotRegistered{})),
      "500 Couldn't convert native value because it's an unregistered structure.");
  ASSERT_TRUE(plugin
                  ->publishResourceChange(PluginResourceEventType::kUpdate,
                                          "/ulix-auth/v1/authorization/refresh",
                                          PluginManagerResource{PluginManagerState::kNotReady})
                  .ok());
  ASSERT_TRUE(plugin->publishResourceDelete("/ulix-auth/v1/authorization").ok());
  // A path whose own name is the given one is not sent twice.
  ASSERT_TRUE(plugin->publishResourceDelete("/").ok());

  std::vector<std::string> sent;
  for (const FakeHost::SentEvent& event : host.SentEvents()) {
    sent.push_back(event.name + " " + event.value.Json());
  }
  const std::string update =
      R"({"data":{"state":"NotReady"},"eventType":"Update","uri":"/ulix-auth/v1/authorization/refresh"})";
  const std::string deletion =
      R"({"data":null,"eventType":"Delete","uri":"/ulix-auth/v1/authorization"})";
  EXPECT_EQ(sent, (std::vector<std::string>{
                      "OnJsonApiEvent_ulix-auth_v1_authorization " + update,
                      "OnJsonApiEvent " + update,
                      "OnJsonApiEvent_ulix-auth_v1_authorization " + deletion,
                      "OnJsonApiEvent " + deletion,
                      R"(OnJsonApiEvent {"data":null,"eventType":"Delete","uri":"/"})",
                  }));
}

// "<name> <plug-in handle>" of each subscription or unsubscription, then a subscription's flag.
template <typename Record>
std::vector<std::string> Names(const std::vector<Record>& records) {
  std::vector<std::string> names;
  for (const Record& record : records) {
    names.push_back(record.name + " " + std::to_string(record.plugin_handle));
    if constexpr (requires { record.flag; }) names.back() += " " + std::to_string(record.flag);
  }
  return names;
}

TEST_F(Started, SubscriptionsCountPerEventFamilyAndStopEndsThemAll) {
  host.ClearLog();
  plugin->subscribe("/ulix-auth/v1/authorization/access-token");
  plugin->subscribe("/ulix-auth/v1/authorization/id-token");
  plugin->unsubscribe("/ulix-auth/v1/authorization/id-token");
  EXPECT_TRUE(host.Unsubscriptions().empty());
  plugin->unsubscribe("/ulix-auth/v1/authorization/access-token");
  // One unsubscribe too many changes nothing.
  plugin->unsubscribe("/ulix-auth/v1/authorization/access-token");
  // Trace points go to a suppressed group.
  EXPECT_TRUE(host.LogLines().empty());

  plugin->subscribe("/x/y");
  plugin->observeResource("/p/*", [](const PluginResourceEvent&) {});
  (void)plugin->scheduleDelayed("never", 0, [] { ADD_FAILURE() << "ran after stop"; });
  EXPECT_EQ(host.ActiveSubscriptionCount(), 5u);
  plugin.Stop();
  EXPECT_EQ(host.ActiveSubscriptionCount(), 0u);
  // Start subscribed the three service-proxy events, with flag 1.
  EXPECT_EQ(Names(host.Subscriptions()),
            (std::vector<std::string>{
                "OnServiceProxyUuidEvent 7 1", "OnServiceProxyMethodEvent 7 1",
                "OnServiceProxyAsyncEvent 7 1", "OnJsonApiEvent_ulix-auth_v1_authorization 7 0",
                "OnJsonApiEvent_x_y 7 0", "OnJsonApiEvent_p_* 7 0"}));
  EXPECT_EQ(Names(host.Unsubscriptions()),
            (std::vector<std::string>{"OnJsonApiEvent_ulix-auth_v1_authorization 7",
                                      "OnServiceProxyUuidEvent 7", "OnServiceProxyMethodEvent 7",
                                      "OnServiceProxyAsyncEvent 7", "OnJsonApiEvent_x_y 7",
                                      "OnJsonApiEvent_p_* 7"}));
}

// The payload of a resource event the host delivers.
FakeValue ResourceEvent(const char* uri, const char* type) {
  return FakeValue::Object({{"uri", FakeValue::Text(uri)}, {"eventType", FakeValue::Text(type)}});
}

TEST_F(Started, ObserveReadsTheResourceFirstThenFollowsItsChanges) {
  host.ScriptResource("/plugin-manager/v1/status",
                      FakeValue::Object({{"state", FakeValue::Text("NotReady")}}));
  host.ScriptResource("/a/b/c", FakeValue::Object({}));
  // "<observer> <event type> <uri> <data>" of each event heard.
  std::vector<std::string> heard;
  auto note = [&heard](const char* who) {
    return [&heard, who](const PluginResourceEvent& e) {
      heard.push_back(who + (" " + std::to_string(static_cast<int>(e.eventType))) + " " + e.uri +
                      " " + binding::toJson(e.data));
    };
  };
  plugin->observeResource("/plugin-manager/v1/status", note("status"));
  // The plug-in's own publication comes back through the host's bus.
  ASSERT_TRUE(
      plugin
          ->publishResourceChange(PluginResourceEventType::kUpdate, "/plugin-manager/v1/status",
                                  PluginManagerResource{PluginManagerState::kPluginsInitialized})
          .ok());
  // An event whose uri lacks the leading "/" still finds the observer; one whose payload is
  // not a resource event is dropped.
  host.Deliver("OnJsonApiEvent_plugin-manager_v1_status",
               ResourceEvent("plugin-manager/v1/status", "Delete"));
  host.Deliver("OnJsonApiEvent_plugin-manager_v1_status", FakeValue::Text("garbage"));

  // Patterns have no initial read. The path's own observer hears first; a second one of the
  // path replaces the first.
  plugin->observeResource("/a/*/c", note("middle"));
  plugin->observeResource("/a/*", note("tail"));
  plugin->observeResource("/a/b/c", note("replaced"));
  plugin->observeResource("/a/b/c", note("exact"));
  for (const char* uri : {"/a/b/c", "/a/b/x/c", "/a/b", "/a/b/c/d"}) {
    host.Deliver("OnJsonApiEvent_a_*_c", ResourceEvent(uri, "Update"));
  }
  EXPECT_EQ(heard, (std::vector<std::string>{
                       R"(status 0 /plugin-manager/v1/status {"state":"NotReady"})",
                       R"(status 1 /plugin-manager/v1/status {"state":"PluginsInitialized"})",
                       "status 2 plugin-manager/v1/status ",
                       "replaced 0 /a/b/c {}",
                       "exact 0 /a/b/c {}",
                       "exact 1 /a/b/c ",
                       "middle 1 /a/b/c ",
                       "tail 1 /a/b ",
                   }));
  EXPECT_EQ(CallsOf(host),
            (std::vector<std::string>{"2 /plugin-manager/v1/status", "2 /a/b/c", "2 /a/b/c"}));
}

std::int64_t TenSeconds() { return 10'000'000'000; }

TEST_F(Started, DelayedCountsIdsAndMeasuresTheDelayOnTheMonotonicClock) {
  plugin->setMonotonicClock(&TenSeconds);
  std::vector<std::string> ran;  // labels of the callbacks that ran
  auto note = [&ran](const char* label) { return [&ran, label] { ran.push_back(label); }; };
  const auto past = [&] {
    ran.push_back("past");
    // Scheduling from inside a callback takes the next id.
    ran.push_back(std::to_string(plugin->scheduleDelayed("again", TenSeconds(), note("again"))));
  };
  EXPECT_EQ(plugin->scheduleDelayed("later", 12'500'000'000, note("later")), 1u);
  EXPECT_EQ(plugin->scheduleDelayed("past", 1'000'000'000, past), 2u);
  std::vector<std::string> scheduled;
  for (const auto& callback : host.Scheduled()) {
    scheduled.push_back(callback.label + " " + std::to_string(callback.delay_seconds));
  }
  EXPECT_EQ(scheduled, (std::vector<std::string>{"later 2.500000", "past 0.000000"}));

  // How many callbacks the clock fired, and how many remain.
  auto advance = [&](double seconds) {
    const std::string fired = std::to_string(host.AdvanceClock(seconds));
    return fired + " " + std::to_string(plugin->pendingDelayedCount());
  };
  EXPECT_EQ(advance(0), "2 1");
  EXPECT_EQ(ran, (std::vector<std::string>{"past", "3", "again"}));
  EXPECT_EQ(advance(2.5), "1 0");
  EXPECT_EQ(ran, (std::vector<std::string>{"past", "3", "again", "later"}));
}

// A host that runs a callback before scheduleCallback even returns.
void RunAtOnce(const HostFunctionTable*, const char*, HostDelayedCallback callback, void* context,
               double, std::int32_t) {
  callback(context);
}

TEST(DelayedCallbacks, ReturnsTheIdWhenTheHostRunsTheCallbackBeforeReturning) {
  FakeHost host;
  host.mutable_functions()->scheduleCallback = &RunAtOnce;
  StartedPlugin plugin(host);
  int ran = 0;
  EXPECT_EQ(plugin->scheduleDelayed("now", 0, [&] { ++ran; }), 1u);
  // A callback that throws loses its entry all the same.
  EXPECT_EQ(plugin->scheduleDelayed("throws", 0, [] { throw std::runtime_error("fault"); }), 2u);
  EXPECT_EQ(plugin->scheduleDelayed("now", 0, [&] { ++ran; }), 3u);
  EXPECT_EQ(ran, 2);
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

// The callbacks a host fires while the plug-in unsubscribes on its way out.
std::vector<FakeHost::ScheduledCallback> g_fired_in_stop;
void UnsubscribeFiring(const HostFunctionTable*, const char*, std::uint32_t) {
  for (const auto& callback : g_fired_in_stop) callback.callback(callback.context);
}

TEST(DelayedCallbacks, CallbacksTheHostFiresDuringOrAfterStopRunNothing) {
  FakeHost host;
  int ran = 0;
  StartedPlugin first(host, new SchedulingPlugin(ran));
  const std::vector<FakeHost::ScheduledCallback> late = host.Scheduled();
  ASSERT_EQ(late.size(), 2u);
  late[0].callback(late[0].context);
  EXPECT_EQ(ran, 1);
  g_fired_in_stop = {late[1]};
  host.mutable_functions()->unsubscribeEvent = &UnsubscribeFiring;
  first.Stop();
  g_fired_in_stop.clear();

  // Another instance may take the first one's place, even its memory: the late callbacks (one of
  // them fired twice) reach neither.
  int other_ran = 0;
  StartedPlugin other(host, new SchedulingPlugin(other_ran));
  for (const FakeHost::ScheduledCallback& callback : late) callback.callback(callback.context);
  EXPECT_EQ(std::to_string(ran) + " " + std::to_string(other_ran) + " " +
                std::to_string(other->pendingDelayedCount()),
            "1 0 2");
}

// The services built on calls and events.

FakeValue ProxyAnswer(const char* uuid, const char* service, const char* method,
                      const char* payload) {
  return FakeValue::Object({{"uuid", FakeValue::Text(uuid)},
                            {"serviceName", FakeValue::Text(service)},
                            {"methodName", FakeValue::Text(method)},
                            {"payload", FakeValue::Text(payload)}});
}

TEST_F(Started, ServiceProxyFulfilsWaitingRequestsInEitherOrderAndHandsOutAsyncEvents) {
  host.ClearLog();
  std::vector<std::string> completed;
  auto keep = [&](const PluginServiceProxyResponse& r) { completed.push_back(r.payload); };

  // The answer arrives before anyone waits for it: it is queued.
  host.Deliver("OnServiceProxyUuidEvent", ProxyAnswer("u-1", "", "", "early"));
  EXPECT_TRUE(completed.empty());
  plugin->awaitServiceProxyResponse("u-1", keep);
  // The request waits first; a method answer is keyed "service.method".
  plugin->awaitServiceProxyResponse("inventory.list", keep);
  host.Deliver("OnServiceProxyMethodEvent", ProxyAnswer("", "inventory", "other", "unmatched"));
  host.Deliver("OnServiceProxyMethodEvent", ProxyAnswer("", "inventory", "list", "late"));
  // A request completes once.
  host.Deliver("OnServiceProxyMethodEvent", ProxyAnswer("", "inventory", "list", "again"));
  // Answers queued under one key go out in the order they came.
  host.Deliver("OnServiceProxyUuidEvent", ProxyAnswer("u-2", "", "", "first"));
  host.Deliver("OnServiceProxyUuidEvent", ProxyAnswer("u-2", "", "", "second"));
  plugin->awaitServiceProxyResponse("u-2", keep);
  plugin->awaitServiceProxyResponse("u-2", keep);
  // Async events go to the handler of their "service.method", set last, or to the log.
  plugin->setServiceProxyAsyncHandler("chat.message", [](auto&) { ADD_FAILURE() << "replaced"; });
  plugin->setServiceProxyAsyncHandler("chat.message", keep);
  for (const char* method : {"message", "message", "typing"}) {
    host.Deliver("OnServiceProxyAsyncEvent", ProxyAnswer("", "chat", method, method));
  }

  EXPECT_EQ(completed,
            (std::vector<std::string>{"early", "late", "first", "second", "message", "message"}));
  EXPECT_EQ(host.LogLines(),
            (std::vector<FakeHost::LogLine>{
                {3, "test: Fulfilled service proxy request: u-1"},
                {3, "test: Fulfilled service proxy request: inventory.list"},
                {3, "test: Fulfilled service proxy request: u-2"},
                {3, "test: Fulfilled service proxy request: u-2"},
                {2,
                 "test: Could not find registered handler for async service proxy event "
                 "chat.typing"},
            }));
}

TEST_F(Started, TelemetryAndInstallSettingsCallTheirPaths) {
  host.ScriptResource("/telemetry/v1/events/ulix_token_request", FakeHost::ResourceAnswer());
  host.ScriptResource("/telemetry/v1/events/refused", {503, "busy", {}, std::nullopt, false});
  host.ScriptResource("/data-store/v1/install-settings/ulix-auth", FakeValue::Text("stored"));
  host.ScriptResource("/data-store/v1/install-settings/", FakeValue::Signed(3));
  ASSERT_NE(plugin->telemetry(), nullptr);

  // Both are answered before SendEvent returns.
  std::future<Vorn::RemotingTypedResult<void>> sent[] = {
      plugin->telemetry()->SendEvent(
          "ulix_token_request", PluginManagerResource{PluginManagerState::kPluginsInitialized}),
      plugin->telemetry()->SendEvent("refused", std::string("x"))};
  for (auto& future : sent) {
    ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  }
  EXPECT_EQ(Show(sent[0].get()) + ", " + Show(sent[1].get()),
            "ok, 503 Error response for POST /telemetry/v1/events/refused: busy");
  // Unscripted: the host answers with an error, which common data drops.
  plugin->telemetry()->SetCommonData("client_id", "vorn-client");

  EXPECT_EQ(ReadInstallSetting<std::string>(*plugin, "ulix-auth").value(), "stored");
  EXPECT_EQ(ReadInstallSetting<std::int32_t>(*plugin, "").value(), 3);
  EXPECT_EQ(Show(ReadInstallSetting<std::string>(*plugin, "absent")),
            "404 Error response for GET /data-store/v1/install-settings/absent: Not found");
  EXPECT_TRUE(WriteInstallSetting(*plugin, "ulix-auth", std::string("new")));
  EXPECT_FALSE(WriteInstallSetting(*plugin, "absent", std::string("new")));

  EXPECT_EQ(CallsOf(host),
            (std::vector<std::string>{
                R"(6 /telemetry/v1/events/ulix_token_request ={"state":"PluginsInitialized"})",
                R"(6 /telemetry/v1/events/refused ="x")",
                R"(6 /telemetry/v1/common-data/client_id ="vorn-client")",
                "2 /data-store/v1/install-settings/ulix-auth",
                "2 /data-store/v1/install-settings/",
                "2 /data-store/v1/install-settings/absent",
                R"(6 /data-store/v1/install-settings/ulix-auth ="new")",
                R"(6 /data-store/v1/install-settings/absent ="new")",
            }));
}

// The fields and values of these types are exercised by the calls and events above; what is
// left is how the catalogue presents them.
TEST_F(Started, RuntimeBuiltinsAreRegisteredAtLoadWithTheirEvents) {
  binding::BindingTypeRegistry& registry = plugin->typeRegistry();
  // Each event: its payload type, namespace, tag count and whether it has a description.
  std::vector<std::string> found;
  for (const char* name : {"OnJsonApiEvent", "OnLcdsEvent", "OnServiceProxyUuidEvent",
                           "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
    const binding::BindingEventDescriptor* event = registry.findEvent(name);
    found.push_back(event == nullptr || event->payload == nullptr
                        ? std::string(name) + " missing"
                        : event->payload->name + " " + event->nameSpace + " " +
                              std::to_string(event->tags.size()) +
                              (event->description.empty() ? " undescribed" : ""));
  }
  const std::string proxy = "PluginServiceProxyResponse vclient 0";
  EXPECT_EQ(found, (std::vector<std::string>{"PluginResourceEvent vclient 0",
                                             "PluginLcdsEvent vclient 0", proxy, proxy, proxy}));
  // The word is the namespace of every runtime type, never a tag.
  for (const char* name : {"PluginManagerState", "PluginManagerResource", "PluginResourceEventType",
                           "PluginResourceEvent", "PluginLcdsEvent", "PluginLcdsResponse",
                           "PluginServiceProxyResponse"}) {
    const binding::BindingTypeDescriptor* type = registry.findType(name);
    EXPECT_TRUE(type != nullptr && type->nameSpace == "vclient" && type->tags.empty()) << name;
  }
}

// A plug-in whose one endpoint publishes a change, as the sign-on handlers do.
class EchoPlugin : public PluginBase {
 public:
  void registerEndpoints() override {
    registerEndpoint(
        kHostMethodGet, "/echo/{word}",
        [this](CallState&, const std::string& word) -> Vorn::RemotingTypedResult<std::string> {
          (void)publishResourceChange(Vorn::Client::PluginResourceEventType::kUpdate,
                                      "/echo/" + word, word);
          return word;
        })
        .PathArgument("word", "What comes back");
  }
};

// Incoming requests, outgoing calls, event deliveries, delayed callbacks and subscriptions
// arrive on different host threads at once. Run under the tsan preset to check the locks; here
// the counts must add up.
TEST(PluginHostBridgeThreads, DispatchEventsAndDelayedCallbacksRunConcurrently) {
  constexpr int kRounds = 200;
  FakeHost host;
  host.ScriptResource("/r", FakeValue::Object({{"state", FakeValue::Text("NotReady")}}));
  StartedPlugin plugin(host, new EchoPlugin());
  const ulix_testing::EndpointChooser chooser(plugin->typeCatalogue());
  const CatalogueEndpoint* echo = chooser.Choose(kHostMethodGet, "/echo/x");
  ASSERT_NE(echo, nullptr);
  // Each thread counts the rounds that came through: echoed, called, observed, fulfilled,
  // delayed, published.
  enum { kEchoed, kCalled, kObserved, kFulfilled, kDelayed, kPublished, kCounts };
  std::atomic<int> counts[kCounts] = {};
  plugin->observeResource("/watched/*", [&](const PluginResourceEvent&) { ++counts[kObserved]; });
  const std::function<void(int)> rounds[] = {
      [&](int i) {
        ulix_testing::TestRequest request;
        request.path = "/echo/w" + std::to_string(i);
        ulix_testing::DispatchedResponse response;
        ulix_testing::Dispatch(*echo, request, response);
        if (response.ok()) ++counts[kEchoed];
      },
      [&](int) {
        counts[kCalled] += plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/r").ok();
      },
      [&](int) { host.Deliver("OnJsonApiEvent_watched_*", ResourceEvent("/watched/x", "Update")); },
      [&](int i) {
        const std::string key = "k" + std::to_string(i);
        plugin->awaitServiceProxyResponse(
            key, [&](const PluginServiceProxyResponse&) { ++counts[kFulfilled]; });
        host.Deliver("OnServiceProxyUuidEvent", ProxyAnswer(key.c_str(), "", "", ""));
      },
      [&](int) {
        (void)plugin->scheduleDelayed("tick", 0, [&] { ++counts[kDelayed]; });
        host.FireScheduled();
      },
      [&](int) {
        plugin->subscribe("/other/path");
        counts[kPublished] += plugin
                                  ->publishResourceChange(PluginResourceEventType::kUpdate,
                                                          "/other/path", std::string("v"))
                                  .ok();
        plugin->unsubscribe("/other/path");
      },
  };
  std::vector<std::thread> threads;
  for (const auto& round : rounds) {
    threads.emplace_back([&round] {
      for (int i = 0; i < kRounds; ++i) round(i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::atomic<int>& count : counts) EXPECT_EQ(count.load(), kRounds);
  EXPECT_EQ(plugin->pendingDelayedCount(), 0u);
}

}  // namespace
}  // namespace plugin_runtime
