// The sign-on plug-in driven as a host drives it: endpoint records chosen from its catalogue,
// events and log lines read from the fake host, the sign-on service answering per URL.
#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

#include <string>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/plugin_test_host.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace ulix_auth {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ulix_testing::FakeValue;

constexpr std::uint32_t kGet = kHostMethodGet;
constexpr std::uint32_t kPost = kHostMethodPost;
constexpr std::uint32_t kPut = kHostMethodPut;
constexpr std::uint32_t kDelete = kHostMethodDelete;

TEST(Registration, NamesTheNineteenEndpointsFromMethodAndPath) {
  PluginTestHost test;
  test.Start();
  // Every one is reachable by its method and path and carries the name derived from them.
  const struct {
    std::uint32_t method;
    const char* path;
    const char* answer;
  } rows[] = {
      {kGet, "/ulix-auth/v1/authorization", "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/error", "404 No error from last authentication."},
      {kGet, "/ulix-auth/v1/authorization/access-token", "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/entitlements-token",
       "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/id-token", "404 No authorization currently exists."},
      {kGet, "/ulix-auth/v1/authorization/gas-token", "404 No authorization currently exists."},
      {kPost, "/ulix-auth/v1/authorization/refresh", "404 No authorization currently exists."},
      {kDelete, "/ulix-auth/v1/authorization", "404 No authorization currently exists."},
      {kDelete, "/ulix-auth/v1/config", "404 No config to delete."},
      {kDelete, "/ulix-auth/v2/config", "404 No config to delete."},
      {kGet, "/ulix-auth/v1/authorization/userinfo",
       "404 No UserInfo currently exists. Are you logged in?"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(test.Text(row.method, row.path), row.answer);
  }
  EXPECT_THAT(test.TakeEvents(), IsEmpty());
}

TEST(ConfigurationSources, LogEveryLoadThatFails) {
  const struct {
    const char* name;
    std::vector<std::string> command_line;
    std::optional<FakeValue> install;
    std::optional<FakeValue> region;
    std::vector<std::string> log;
  } rows[] = {
      {"nothing found",
       {},
       std::nullopt,
       std::nullopt,
       {"3|Could not load local ULIX settings.", "3|ULIX settings not found."}},
      {"disabled reads nothing else",
       {"--ulix-auth.disabled"},
       std::nullopt,
       std::nullopt,
       {"3|Using ULIX disabled via command line argument"}},
      {"region without a client",
       {},
       FakeValue::Object({{"install-identifier", FakeValue::Text("i")}}),
       FakeValue::Object(
           {{"allow_lq_fallback", FakeValue::Bool(false)}, {"kount", FakeValue::Object({})}}),
       {"3|ULIX settings invalid."}},
      {"token without fallback flag, Kount without merchant",
       {},
       FakeValue::Object({{"install-identifier", FakeValue::Text("i")}}),
       FakeValue::Object({{"token", FakeValue::Text(ConfigToken())},
                          {"kount", FakeValue::Object({{"merchants", FakeValue::Text("m")}})}}),
       {"1|ulix-auth: LQ fallback settings not found", "3|Kount settings invalid."}},
      {"no Kount",
       {},
       FakeValue::Object({{"install-identifier", FakeValue::Text("i")}}),
       FakeValue::Object({{"client", FakeValue::Text("c")},
                          {"url", FakeValue::Text(kServiceUrl)},
                          {"allow_lq_fallback", FakeValue::Bool(true)}}),
       {"3|Kount settings not found."}},
      {"Kount without install settings",
       {},
       std::nullopt,
       FakeValue::Object({{"client", FakeValue::Text("c")},
                          {"url", FakeValue::Text(kServiceUrl)},
                          {"allow_lq_fallback", FakeValue::Bool(true)},
                          {"kount", FakeValue::Object({{"merchant", FakeValue::Text("m")}})}}),
       {"3|Could not load local ULIX settings.",
        "3|Could not load local ULIX settings, cannot configure Kount."}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PluginTestHost test;
    test.SetCommandLine(row.command_line);
    test.SetInstallSettings(row.install);
    test.SetRegionSettings(row.region);
    test.Start(/*apply=*/false);
    EXPECT_EQ(test.TakeLog(), row.log);
  }
}

TEST(ConfigurationSources, DisabledFlagLeavesInstallSettingsUnreadAndConfigTokenless) {
  PluginTestHost test;
  test.SetCommandLine({"--ulix-auth.disabled", "--ulix-auth.url=https://cmd.test"});
  test.Start();
  for (const auto& call : test.host().ResourceCalls()) {
    EXPECT_FALSE(call.path.starts_with("/data-store/")) << call.path;
  }
  // The override holder exists and holds nothing; without an override configuration the
  // client is asked, and with no configuration at all it says no.
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), R"({"token":null})");
  EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/status/NA1"), "404 ULIX not configured.");
  EXPECT_EQ(test.Text(kPost, "/ulix-auth/v1/authorization/gas", R"({"username":"a"})"),
            "500 Invalid ULIX Config.");
  EXPECT_EQ(test.LoggedLine("ULIX not configured,"),
            "ULIX not configured, but ULIX authorization requested.");
}

TEST(ConfigurationSources, WritesTheInstallIdentifierOnceAndServesIt) {
  PluginTestHost test;
  test.SetInstallSettings(FakeValue::Object({{"other", FakeValue::Text("kept")}}));
  test.Start();
  std::vector<ulix_testing::FakeHost::ResourceCall> writes;
  for (const auto& call : test.host().ResourceCalls()) {
    if (call.method == kPost && call.path == "/data-store/v1/install-settings/ulix-auth") {
      writes.push_back(call);
    }
  }
  ASSERT_EQ(writes.size(), 1u);
  ASSERT_EQ(writes[0].arguments.size(), 1u);
  const std::string written = writes[0].arguments[0].second.Json();
  // {"install-identifier":"<32 hex digits>","other":"kept"} in some member order.
  const std::size_t at = written.find("\"install-identifier\":\"");
  ASSERT_NE(at, std::string::npos) << written;
  const std::string identifier = written.substr(at + 22, 32);
  EXPECT_EQ(identifier.find_first_not_of("0123456789abcdef"), std::string::npos) << identifier;
  EXPECT_EQ(written[at + 22 + 32], '"');
  EXPECT_NE(written.find("\"other\":\"kept\""), std::string::npos);

  PluginTestHost::Reply device = test.Send(kPost, "/ulix-auth/v1/device-id");
  ASSERT_EQ(device.error, "");
  EXPECT_NE(device.json.find("\"installId\":\"" + identifier + "\""), std::string::npos)
      << device.json;
  EXPECT_NE(device.json.find("\"merchantId\":\"m-1\""), std::string::npos);
  EXPECT_NE(device.json.find("\"collectorServerName\":\"\""), std::string::npos);
  EXPECT_NE(device.json.find("\"frameUrl\":\"https://did.test/frame\""), std::string::npos);
}

TEST(ConfigurationSources, GiveEachStartAFreshKountSession) {
  std::string sessions[2];
  for (std::string& session : sessions) {
    PluginTestHost test;
    test.Start();
    const std::string json = test.Text(kPost, "/ulix-auth/v1/device-id");
    const std::size_t at = json.find("\"sessionId\":\"");
    ASSERT_NE(at, std::string::npos) << json;
    session = json.substr(at + 13, 32);
    EXPECT_EQ(session.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
  EXPECT_NE(sessions[0], sessions[1]);
}

TEST(ConfigurationSources, CommandLineOverridesTheRegionAndPublicClientBeatsToken) {
  const struct {
    const char* name;
    std::vector<std::string> command_line;
    const char* config_answer;  // GET config/NA1
    const char* status_answer;  // GET status/NA1
    const char* log;            // the command-line line
  } rows[] = {
      {"url, client and token: the public client, no override token",
       {"--ulix-auth.url=https://auth.test", "--ulix-auth.client=cmd", "--ulix-auth.token=x.y.z"},
       "404 ULIX settings not found.",
       R"({"enabled":true,"isLQFallbackAllowed":true,"isUserInfoEnabled":true,"platformId":"NA1"})",
       "Using ULIX public client config from commandline: client cmd, url https://auth.test"},
      {"url without client: the token",
       {"--ulix-auth.url=https://auth.test", "--ulix-auth.token=" + ConfigToken(),
        "--ulix-auth.required"},
       nullptr,
       R"({"enabled":false,"isLQFallbackAllowed":false,"isUserInfoEnabled":false,"platformId":"NA1"})",
       nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PluginTestHost test;
    test.SetRegionSettings(std::nullopt);
    test.SetCommandLine(row.command_line);
    test.Start();
    if (row.config_answer != nullptr) {
      EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"), row.config_answer);
    } else {
      EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/config/NA1"),
                "{\"token\":\"" + ConfigToken() + "\"}");
    }
    EXPECT_EQ(test.Text(kGet, "/ulix-auth/v1/status/NA1"), row.status_answer);
    if (row.log != nullptr) EXPECT_EQ(test.LoggedLine("Using ULIX"), row.log);
  }
}

}  // namespace
}  // namespace ulix_auth
