#include "devhost/sign_on_report.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace devhost {
namespace {

TEST(ExplainSignOnError, ReadsThePluginsErrorPairsInPlainWords) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"invalid_request", "auth_failure", "the service refused the user name or password"},
      {"invalid_request", "consent_required",
       "the player has to give consent on the service's site first"},
      {"server_error", "Unable to connect to server", "the sign-on service could not be reached"},
      {"server_error", "Received invalid JSON",
       "the sign-on service answered with something that is not JSON"},
      {"invalid_grant", "refresh token expired", "the service no longer accepts this sign-on"},
      {"Tried to create an authorization when one already exists.", "",
       "a player is signed on already; sign off first"},
      {"Invalid ULIX Config.", "",
       "no sign-on service is configured (give --ulix-auth.url and --ulix-auth.client)"},
      {"temporarily_unavailable", "try later", "the sign-on service refused the request"},
  };
  for (const auto& [error, description, explanation] : rows) {
    EXPECT_EQ(ExplainSignOnError(error, description), explanation) << error << " " << description;
  }
}

TEST(UnknownPluginOptions, WarnsOfNamesThePluginDoesNotReadWithTheClosestKnownOne) {
  const std::vector<std::string> arguments = {"--ulix-auth.url=http://127.0.0.1:9",
                                              "--ulix-auth.usr=demo",
                                              "--ulix-auth.password=x",
                                              "--ulix-auth.required",
                                              "--ulix-auth.plat=EU",
                                              "--ulix-auth.colour=blue",
                                              "--other=1",
                                              "--ulix-auth.clent=devhost"};
  EXPECT_EQ(UnknownPluginOptions(arguments),
            (std::vector<std::string>{
                "the plug-in has no option --ulix-auth.usr; it is ignored (did you mean "
                "--ulix-auth.username?)",
                "the plug-in has no option --ulix-auth.plat; it is ignored (did you mean "
                "--ulix-auth.platform?)",
                "the plug-in has no option --ulix-auth.colour; it is ignored (the plug-in "
                "reads url, client, token, required, disabled, username, password, platform)",
                "the plug-in has no option --ulix-auth.clent; it is ignored (did you mean "
                "--ulix-auth.client?)"}));
}

}  // namespace
}  // namespace devhost
