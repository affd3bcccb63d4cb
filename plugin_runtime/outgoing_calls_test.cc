// Typed calls of host resources and HTTP requests through the host, driven against the fake
// host as a started plug-in makes them.
#include <string>
#include <vector>

#include "binding/json_bridge.h"
#include "gtest/gtest.h"
#include "plugin_runtime/plugin_base.h"
#include "testing/fake_host.h"
#include "testing/started_plugin.h"

namespace plugin_runtime {
namespace {

using ulix_testing::FakeHost;
using ulix_testing::FakeValue;
using ulix_testing::StartedPlugin;
using Vorn::Client::PluginManagerResource;
using Vorn::Client::PluginManagerState;

struct NotRegistered {
  int n = 0;
};
ULIX_BINDING_TYPE(NotRegistered, "NotRegistered")

TEST(typedCall, SendsArgumentsAndConvertsTheAnswer) {
  FakeHost host;
  host.ScriptResource("/plugin-manager/v1/status",
                      FakeValue::Object({{"state", FakeValue::Text("PluginsInitialized")}}));
  host.ScriptResource("/store/x", FakeHost::ResourceAnswer());
  StartedPlugin plugin(host);

  auto state =
      plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/plugin-manager/v1/status");
  ASSERT_TRUE(state.ok()) << state.message();
  EXPECT_EQ(state.value().state, PluginManagerState::kPluginsInitialized);

  auto posted = plugin->typedCall(kHostMethodPost, "/store/x", std::string("v"),
                                  PluginManagerResource{PluginManagerState::kNotReady});
  EXPECT_TRUE(posted.ok());

  const std::vector<FakeHost::ResourceCall> calls = host.ResourceCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].method, 2u);
  EXPECT_EQ(calls[0].caller_context, 7u);
  EXPECT_TRUE(calls[0].arguments.empty());
  EXPECT_EQ(calls[1].method, 6u);
  EXPECT_EQ(calls[1].path, "/store/x");
  ASSERT_EQ(calls[1].arguments.size(), 2u);
  EXPECT_EQ(calls[1].arguments[0].first, "");
  EXPECT_EQ(calls[1].arguments[0].second.Json(), "\"v\"");
  EXPECT_EQ(calls[1].arguments[1].second.Json(), "{\"state\":\"NotReady\"}");
  EXPECT_EQ(host.released_responses(), 2);
}

TEST(typedCall, ReportsEachFailureWithItsStatusAndMessage) {
  FakeHost host;
  host.ScriptResource("/svc/down", {503, "service down", {}, std::nullopt, false});
  host.ScriptResource("/svc/broken-stream",
                      {200, "", {}, std::vector<std::string>{"{\"a\""}, true});
  host.ScriptResource("/svc/not-json", {200, "", {}, std::vector<std::string>{"{oops"}, false});
  host.ScriptResource("/svc/text", FakeValue::Text("abc"));
  StartedPlugin plugin(host);

  struct Case {
    Vorn::RemotingTypedResult<PluginManagerResource> result;
    std::int32_t status;
    std::string message;
  };
  const Case cases[] = {
      {plugin->typedCall<PluginManagerResource>(kHostMethodPut, "/svc/x", NotRegistered{}), 400,
       "Request not sent: Error converting parameters for PUT /svc/x: Couldn't convert native "
       "value because it's an unregistered structure."},
      {plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/svc/down"), 503,
       "Error response for GET /svc/down: service down"},
      {plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/svc/broken-stream"), 500,
       "Error reading streamed response for GET /svc/broken-stream: Stream read error"},
      {plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/svc/not-json"), 500,
       "Error reading streamed response for GET /svc/not-json: Error: Missing a name for object "
       "member. at offset 1."},
      {plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/svc/text"), 500,
       "Error converting response for GET /svc/text: Couldn't assign value to '<result>' of type "
       "PluginManagerResource because the input not a structure."},
      {plugin->typedCall<PluginManagerResource>(kHostMethodGet, "/unscripted"), 404,
       "Error response for GET /unscripted: Not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ASSERT_FALSE(c.result.ok());
    EXPECT_EQ(c.result.status(), c.status);
    EXPECT_EQ(c.result.message(), c.message);
  }
  // The call that was never sent has nothing to release; every other response went back.
  EXPECT_EQ(host.ResourceCalls().size(), 5u);
  EXPECT_EQ(host.released_responses(), 5);
  EXPECT_EQ(host.closed_streams(), 2);
}

TEST(typedCall, ReadsAStreamInPiecesAndYieldsOnlyWhenShortOfData) {
  FakeHost host;
  host.ScriptResource("/svc/pieces",
                      {200, "", {}, std::vector<std::string>{"{\"a\":", "", "[1,2]}"}, false});
  const std::string full_chunk(4096, 'x');
  host.ScriptResource("/svc/full", {200, "", {}, std::vector<std::string>{full_chunk, "y"}, false});
  StartedPlugin plugin(host);

  auto value = plugin->typedCall<binding::BindingValue>(kHostMethodGet, "/svc/pieces");
  ASSERT_TRUE(value.ok()) << value.message();
  EXPECT_EQ(binding::toJson(value.value()), "{\"a\":[1,2]}");
  // Two short reads announced more data: the host was given two chances to produce it.
  EXPECT_EQ(host.WaitReasons(), (std::vector<std::string>{"Wait: yield", "Wait: yield"}));
  EXPECT_EQ(host.yield_count(), 2);
  EXPECT_EQ(host.finish_wait_count(), 2);

  auto text = plugin->streamedCall(kHostMethodGet, "/svc/full");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text.value().size(), 4097u);
  EXPECT_EQ(text.value().back(), 'y');
  EXPECT_EQ(host.yield_count(), 2);
  EXPECT_EQ(host.closed_streams(), 2);
}

TEST(HostHttp, PutsTheUserAgentFirstUnlessTheRequestNamesOne) {
  FakeHost host;
  host.ScriptHttp({0, 200, std::string("{}")});
  StartedPlugin plugin(host);

  HttpRequest request;
  request.method = kHostMethodPost;
  request.url = "https://sso.example/token";
  request.headers = {{"Accept", "application/json"}};
  request.body = "a=b";
  request.timeout = 30;
  request.flag = 1;
  (void)plugin->sendHttp(request);
  request.headers = {{"User-Agent", "mine"}};
  (void)plugin->sendHttp(request);

  const std::vector<FakeHost::HttpCall> calls = host.HttpCalls();
  ASSERT_EQ(calls.size(), 2u);
  using Headers = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(calls[0].headers,
            (Headers{{"user-agent", "VornClient/18.0.0 (test)"}, {"Accept", "application/json"}}));
  EXPECT_EQ(calls[0].method, 6u);
  EXPECT_EQ(calls[0].url, "https://sso.example/token");
  EXPECT_EQ(calls[0].body, "a=b");
  EXPECT_EQ(calls[0].timeout, 30u);
  EXPECT_EQ(calls[0].flag, 1);
  EXPECT_EQ(calls[1].headers, (Headers{{"User-Agent", "mine"}}));
  EXPECT_EQ(host.released_http_responses(), 2);
}

TEST(HostHttp, MapsTransportResults) {
  const struct {
    std::uint32_t host_code;
    HttpTransportResult expected;
  } cases[] = {
      {0xFFFFFFFFu, HttpTransportResult::kCancelled},
      {0, HttpTransportResult::kSuccess},
      {1, HttpTransportResult::kFailure},
      {2, HttpTransportResult::kTimedOut},
      {3, HttpTransportResult::kFailure},
      {7, HttpTransportResult::kFailure},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host_code);
    EXPECT_EQ(MapHttpTransportResult(c.host_code), c.expected);
  }
}

TEST(HostHttp, ReadsBodiesAndReportsEveryMessage) {
  FakeHost host;
  StartedPlugin plugin(host);
  HttpRequest request;
  request.method = kHostMethodPost;
  request.url = "https://sso.example/token";

  struct Case {
    const char* name;
    FakeHost::HttpAnswer answer;
    HttpBodyForm form;
    bool error;
    std::string message;
    std::string value_json;
    std::string text;
  };
  const Case cases[] = {
      {"json body",
       {0, 200, std::string("{\"a\":1}"), {{"Content-Type", "application/json"}}},
       HttpBodyForm::kJson,
       false,
       "",
       "{\"a\":1}",
       ""},
      {"service error status is not a transport error",
       {0, 400, std::string("{}"), {}},
       HttpBodyForm::kJson,
       false,
       "",
       "{}",
       ""},
      {"transport failure carries the host's text",
       {7, 0, std::string("connection reset"), {}},
       HttpBodyForm::kJson,
       true,
       "connection reset",
       "",
       ""},
      {"empty json body",
       {0, 200, std::string()},
       HttpBodyForm::kJson,
       true,
       "Error converting response for POST https://sso.example/token: body was empty",
       "",
       ""},
      {"undecodable json body",
       {0, 502, std::string("<html>"), {}},
       HttpBodyForm::kJson,
       true,
       "Error deserializing json response for POST https://sso.example/token: Error: Invalid "
       "value. at offset 0. given body <html>",
       "\"<html>\"",
       ""},
      {"headers announced but missing",
       {0, 200, std::string("{}"), {}, true},
       HttpBodyForm::kJson,
       true,
       "Error converting response for POST https://sso.example/token: headers was null",
       "",
       ""},
      {"text body",
       {0, 200, std::string("plain"), {}},
       HttpBodyForm::kText,
       false,
       "",
       "",
       "plain"},
      {"text body announced but missing",
       {0, 200, std::nullopt, {}, false, 5},
       HttpBodyForm::kText,
       true,
       "Error converting response for POST https://sso.example/token: body was null",
       "",
       ""},
  };
  int sent = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.ScriptHttp(c.answer);
    HttpResponse response = plugin->sendHttp(request, c.form);
    ++sent;
    EXPECT_EQ(response.error, c.error);
    EXPECT_EQ(response.message, c.message);
    EXPECT_EQ(binding::toJson(response.value), c.value_json);
    EXPECT_EQ(response.text, c.text);
    EXPECT_EQ(host.released_http_responses(), sent);
  }
}

TEST(HostHttp, KeepsStatusAndHeadersOfASuccessfulExchange) {
  FakeHost host;
  host.ScriptHttp({0, 201, std::string("ok"), {{"ETag", "x1"}, {"Content-Type", "text/plain"}}});
  StartedPlugin plugin(host);
  HttpResponse response = plugin->getText("https://sso.example/userinfo", {{"a", "b"}}, 10, 1);
  EXPECT_EQ(response.transport, HttpTransportResult::kSuccess);
  EXPECT_EQ(response.status, 201u);
  EXPECT_EQ(response.headers,
            (std::map<std::string, std::string>{{"Content-Type", "text/plain"}, {"ETag", "x1"}}));
  EXPECT_EQ(response.text, "ok");
  EXPECT_EQ(host.HttpCalls().at(0).method, 2u);
  EXPECT_EQ(host.HttpCalls().at(0).timeout, 10u);
  EXPECT_EQ(host.HttpCalls().at(0).flag, 1u);
}

}  // namespace
}  // namespace plugin_runtime
