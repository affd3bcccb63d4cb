#include "Plugins/zpk-be-ulix-auth/command_line_options.h"

#include <optional>
#include <string>

#include "gtest/gtest.h"

namespace ulix_auth {
namespace {

TEST(CommandLineOptions, FlagsStandAloneAndValuesFollowTheirEqualsSign) {
  const CommandLineOptions options(
      {"VornClient.exe", "--ulix-auth.disabled=1", "--ulix-auth.required",
       "--ulix-auth.url=", "--ulix-auth.client=pc=1", "--ulix-auth.client=second",
       "--ULIX-AUTH.TOKEN=t", "-ulix-auth.username=u"});
  const struct {
    const char* name;
    bool flag;
    std::optional<std::string> value;
  } rows[] = {
      {"ulix-auth.disabled", false, "1"},  // a value does not set a flag
      {"ulix-auth.required", true, std::nullopt},
      {"--ulix-auth.required", true, std::nullopt},  // an explicit prefix is not doubled
      {"ulix-auth.require", false, std::nullopt},
      {"ulix-auth.url", false, ""},                 // present, empty
      {"ulix-auth.client", false, "pc=1"},          // first match, split at the first "="
      {"ulix-auth.token", false, std::nullopt},     // names are case-sensitive
      {"ulix-auth.username", false, std::nullopt},  // one dash is not the prefix
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(options.Flag(row.name), row.flag);
    EXPECT_EQ(options.Value(row.name), row.value);
  }
}

}  // namespace
}  // namespace ulix_auth
