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
  } flags[] = {
      {"ulix-auth.disabled", false},  // a value does not set a flag
      {"ulix-auth.required", true},
      {"--ulix-auth.required", true},  // an explicit prefix is not doubled
      {"ulix-auth.require", false},
      {"ulix-auth.url", false},
  };
  for (const auto& row : flags) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(options.Flag(row.name), row.flag);
  }
  const struct {
    const char* name;
    std::optional<std::string> value;
  } values[] = {
      {"ulix-auth.url", std::string()},           // present, empty
      {"ulix-auth.client", std::string("pc=1")},  // first match, split at the first "="
      {"--ulix-auth.client", std::string("pc=1")},
      {"ulix-auth.token", std::nullopt},     // names are case-sensitive
      {"ulix-auth.username", std::nullopt},  // one dash is not the prefix
      {"ulix-auth.required", std::nullopt},  // a flag has no value
      {"ulix-auth.disabled", std::string("1")},
  };
  for (const auto& row : values) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(options.Value(row.name), row.value);
  }
}

}  // namespace
}  // namespace ulix_auth
