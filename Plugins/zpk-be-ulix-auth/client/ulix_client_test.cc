// What the plug-in's scenarios cannot see of the protocol client: the parts of each exchange the
// test host leaves out of its transcript, and a token request the plug-in never makes unconfigured.
#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"

#include <string>

#include "gtest/gtest.h"
#include "testing/fake_host.h"
#include "testing/http_script.h"
#include "testing/sign_on_service.h"
#include "testing/started_plugin.h"

namespace ulix_auth {
namespace {

using namespace ulix_testing;

TEST(ULIXClient, EveryExchangeWaitsTenSecondsWithFlagOneAndItsOwnHeaders) {
  FakeHost host;
  StartedPlugin plugin(host);
  HttpScript script(host);
  for (const char* url : {kDiscoveryUrl, kTokenUrl, kUserInfoUrl}) {
    script.Answer(url, GoodAnswer(url));
  }
  ULIXClient client(*plugin);
  client.SetULIXConfig(ULIXClientConfig{kTokenUrl, "vc", "", "openid", true});
  EXPECT_EQ(client.LoginWithPassword("ann", "pw", "NA1"), std::nullopt);
  EXPECT_EQ(client.RequestUserInfo(), std::nullopt);

  // "<method> <url> <timeout>s flag <flag> [<headers>]", the runtime's user-agent by name.
  std::string sent;
  for (const FakeHost::HttpCall& call : host.HttpCalls()) {
    std::string headers;
    for (const auto& [name, value] : call.headers) {
      headers +=
          (headers.empty() ? "" : ", ") + (name == "user-agent" ? name : name + ": " + value);
    }
    sent += (call.method == kHostMethodGet ? "GET " : "POST ") + call.url + " " +
            std::to_string(call.timeout) + "s flag " + std::to_string(call.flag) + " [" + headers +
            "]\n";
  }
  EXPECT_EQ(sent,
            std::string("GET ") + kDiscoveryUrl +
                " 10s flag 1 [user-agent]\n"
                "POST https://auth.test/token 10s flag 1 [user-agent, Cache-Control: "
                "no-cache, Content-Type: application/x-www-form-urlencoded]\n"
                "GET https://auth.test/userinfo 10s flag 1 [user-agent, Authorization: Bearer " +
                AccessTokenFor() + "]\n");
  EXPECT_EQ(script.outstanding(), 0u);
}

TEST(ULIXClient, WithoutAConfigurationATokenRequestIsNotSent) {
  FakeHost host;
  StartedPlugin plugin(host);
  ULIXClient client(*plugin);
  EXPECT_EQ(client.SendTokenEndpointRequest("", "x=1").message, "Missing ULIX configuration.");
  EXPECT_TRUE(host.HttpCalls().empty());
}

}  // namespace
}  // namespace ulix_auth
