// Service-proxy queues, telemetry, install settings and the runtime's builtin registrations,
// and all of it driven from several host threads at once.
#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "binding/binding_type_registry.h"
#include "gtest/gtest.h"
#include "plugin_runtime/install_settings.h"
#include "plugin_runtime/plugin_base.h"
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
using Vorn::Client::PluginServiceProxyResponse;

FakeValue ProxyAnswer(const char* uuid, const char* service, const char* method,
                      const char* payload) {
  return FakeValue::Object({{"uuid", FakeValue::Text(uuid)},
                            {"serviceName", FakeValue::Text(service)},
                            {"methodName", FakeValue::Text(method)},
                            {"payload", FakeValue::Text(payload)}});
}

TEST(ServiceProxy, FulfilsWaitingRequestsInEitherOrder) {
  FakeHost host;
  StartedPlugin plugin(host);
  host.ClearLog();
  std::vector<std::string> completed;

  // The answer arrives before anyone waits for it: it is queued.
  host.Deliver("OnServiceProxyUuidEvent", ProxyAnswer("u-1", "", "", "early"));
  EXPECT_TRUE(completed.empty());
  plugin->awaitServiceProxyResponse(
      "u-1", [&](const PluginServiceProxyResponse& r) { completed.push_back(r.payload); });
  // The request waits first; a method answer is keyed "service.method".
  plugin->awaitServiceProxyResponse("inventory.list", [&](const PluginServiceProxyResponse& r) {
    completed.push_back(r.payload);
  });
  host.Deliver("OnServiceProxyMethodEvent", ProxyAnswer("", "inventory", "other", "unmatched"));
  host.Deliver("OnServiceProxyMethodEvent", ProxyAnswer("", "inventory", "list", "late"));
  // A request completes once.
  host.Deliver("OnServiceProxyMethodEvent", ProxyAnswer("", "inventory", "list", "again"));

  EXPECT_EQ(completed, (std::vector<std::string>{"early", "late"}));
  EXPECT_EQ(host.LogLines(), (std::vector<FakeHost::LogLine>{
                                 {3, "test: Fulfilled service proxy request: u-1"},
                                 {3, "test: Fulfilled service proxy request: inventory.list"},
                             }));
}

TEST(ServiceProxy, AsyncEventsGoToTheirHandlerOrAreLogged) {
  FakeHost host;
  StartedPlugin plugin(host);
  host.ClearLog();
  std::vector<std::string> received;
  plugin->setServiceProxyAsyncHandler(
      "chat.message", [&](const PluginServiceProxyResponse& r) { received.push_back(r.payload); });

  host.Deliver("OnServiceProxyAsyncEvent", ProxyAnswer("", "chat", "message", "one"));
  host.Deliver("OnServiceProxyAsyncEvent", ProxyAnswer("", "chat", "message", "two"));
  host.Deliver("OnServiceProxyAsyncEvent", ProxyAnswer("", "chat", "typing", "three"));

  EXPECT_EQ(received, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(host.LogLines(),
            (std::vector<FakeHost::LogLine>{
                {2,
                 "test: Could not find registered handler for async service proxy event "
                 "chat.typing"}}));
}

TEST(TelemetrySender, PostsEventsAndCommonDataUnderTheirPaths) {
  FakeHost host;
  host.ScriptResource("/telemetry/v1/events/ulix_token_request", FakeHost::ResourceAnswer());
  host.ScriptResource("/telemetry/v1/events/refused", {503, "busy", {}, std::nullopt, false});
  StartedPlugin plugin(host);
  ASSERT_NE(plugin->telemetry(), nullptr);

  std::future<Vorn::RemotingTypedResult<void>> sent = plugin->telemetry()->SendEvent(
      "ulix_token_request", PluginManagerResource{PluginManagerState::kPluginsInitialized});
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(sent.get().ok());

  std::future<Vorn::RemotingTypedResult<void>> refused =
      plugin->telemetry()->SendEvent("refused", std::string("x"));
  ASSERT_EQ(refused.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  Vorn::RemotingTypedResult<void> error = refused.get();
  EXPECT_EQ(error.status(), 503);
  EXPECT_EQ(error.message(), "Error response for POST /telemetry/v1/events/refused: busy");

  // Unscripted: the host answers with an error, which common data drops.
  plugin->telemetry()->SetCommonData("client_id", "vorn-client");

  const std::vector<FakeHost::ResourceCall> calls = host.ResourceCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].method, 6u);
  EXPECT_EQ(calls[0].path, "/telemetry/v1/events/ulix_token_request");
  ASSERT_EQ(calls[0].arguments.size(), 1u);
  EXPECT_EQ(calls[0].arguments[0].second.Json(), "{\"state\":\"PluginsInitialized\"}");
  EXPECT_EQ(calls[2].method, 6u);
  EXPECT_EQ(calls[2].path, "/telemetry/v1/common-data/client_id");
  ASSERT_EQ(calls[2].arguments.size(), 1u);
  EXPECT_EQ(calls[2].arguments[0].second.Json(), "\"vorn-client\"");
}

TEST(InstallSettings, ReadAndWriteTheirKeyUnderTheStore) {
  FakeHost host;
  host.ScriptResource("/data-store/v1/install-settings/ulix-auth", FakeValue::Text("stored"));
  host.ScriptResource("/data-store/v1/install-settings/", FakeValue::Signed(3));
  StartedPlugin plugin(host);

  auto stored = ReadInstallSetting<std::string>(*plugin, "ulix-auth");
  ASSERT_TRUE(stored.ok());
  EXPECT_EQ(stored.value(), "stored");
  auto whole = ReadInstallSetting<std::int32_t>(*plugin, "");
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(whole.value(), 3);
  auto missing = ReadInstallSetting<std::string>(*plugin, "absent");
  EXPECT_EQ(missing.status(), 404);
  EXPECT_EQ(missing.message(),
            "Error response for GET /data-store/v1/install-settings/absent: Not found");

  EXPECT_TRUE(WriteInstallSetting(*plugin, "ulix-auth", std::string("new")));
  EXPECT_FALSE(WriteInstallSetting(*plugin, "absent", std::string("new")));

  const std::vector<FakeHost::ResourceCall> calls = host.ResourceCalls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[1].path, "/data-store/v1/install-settings/");
  EXPECT_EQ(calls[3].method, 6u);
  EXPECT_EQ(calls[3].path, "/data-store/v1/install-settings/ulix-auth");
  EXPECT_EQ(calls[3].arguments.at(0).second.Json(), "\"new\"");
}

TEST(RuntimeBuiltins, AreRegisteredAtLoadWithTheirEvents) {
  FakeHost host;
  StartedPlugin plugin(host);
  binding::BindingTypeRegistry& registry = plugin->typeRegistry();

  const binding::BindingTypeDescriptor* event = registry.findType("PluginResourceEvent");
  ASSERT_NE(event, nullptr);
  ASSERT_EQ(event->fields.size(), 3u);
  EXPECT_EQ(event->fields[0].name, "uri");
  EXPECT_EQ(event->fields[1].name, "eventType");
  EXPECT_EQ(event->fields[1].type.descriptor, registry.findType("PluginResourceEventType"));
  EXPECT_EQ(event->fields[2].name, "data");
  ASSERT_NE(registry.findType("PluginManagerState"), nullptr);
  EXPECT_EQ(registry.findType("PluginManagerState")->findEnumValue(1)->name, "PluginsInitialized");
  EXPECT_EQ(registry.findType("PluginServiceProxyResponse")->fields.size(), 6u);

  const struct {
    const char* name;
    const char* payload;
    const char* description;
  } events[] = {
      {"OnJsonApiEvent", "PluginResourceEvent", "Fired when a resource is changed."},
      {"OnLcdsEvent", "PluginLcdsEvent",
       "Fired when a message is received over the LCDS connection."},
      {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse",
       "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse",
       "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse",
       "Fired when an async service proxy message is received."},
  };
  for (const auto& e : events) {
    SCOPED_TRACE(e.name);
    const binding::BindingEventDescriptor* found = registry.findEvent(e.name);
    ASSERT_NE(found, nullptr);
    ASSERT_NE(found->payload, nullptr);
    EXPECT_EQ(found->payload->name, e.payload);
    EXPECT_EQ(found->description, e.description);
    EXPECT_EQ(found->nameSpace, "vclient");
    EXPECT_TRUE(found->tags.empty());
  }
  // The word is the namespace of every runtime type, never a tag.
  for (const char* name : {"PluginManagerState", "PluginManagerResource", "PluginResourceEventType",
                           "PluginResourceEvent", "PluginLcdsEvent", "PluginLcdsResponse",
                           "PluginServiceProxyResponse"}) {
    SCOPED_TRACE(name);
    const binding::BindingTypeDescriptor* type = registry.findType(name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->nameSpace, "vclient");
    EXPECT_TRUE(type->tags.empty());
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
  std::atomic<int> echoed{0};
  std::atomic<int> observed{0};
  std::atomic<int> fulfilled{0};
  std::atomic<int> delayed{0};
  std::atomic<int> calls_ok{0};
  plugin->observeResource("/watched/*", [&](const PluginResourceEvent&) { ++observed; });

  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      ulix_testing::TestRequest request;
      request.path = "/echo/w" + std::to_string(i);
      ulix_testing::DispatchedResponse response;
      ulix_testing::Dispatch(*echo, request, response);
      if (response.ok()) ++echoed;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/r").ok()) ++calls_ok;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      host.Deliver("OnJsonApiEvent_watched_*",
                   FakeValue::Object({{"uri", FakeValue::Text("/watched/x")},
                                      {"eventType", FakeValue::Text("Update")}}));
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      const std::string key = "k" + std::to_string(i);
      plugin->awaitServiceProxyResponse(key,
                                        [&](const PluginServiceProxyResponse&) { ++fulfilled; });
      host.Deliver("OnServiceProxyUuidEvent", ProxyAnswer(key.c_str(), "", "", ""));
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      (void)plugin->scheduleDelayed("tick", 0, [&] { ++delayed; });
      host.FireScheduled();
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      plugin->subscribe("/other/path");
      ASSERT_TRUE(plugin
                      ->publishResourceChange(Vorn::Client::PluginResourceEventType::kUpdate,
                                              "/other/path", std::string("v"))
                      .ok());
      plugin->unsubscribe("/other/path");
    }
  });
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(echoed.load(), kRounds);
  EXPECT_EQ(calls_ok.load(), kRounds);
  EXPECT_EQ(observed.load(), kRounds);
  EXPECT_EQ(fulfilled.load(), kRounds);
  EXPECT_EQ(delayed.load(), kRounds);
  EXPECT_EQ(plugin->pendingDelayedCount(), 0u);
}

}  // namespace
}  // namespace plugin_runtime
