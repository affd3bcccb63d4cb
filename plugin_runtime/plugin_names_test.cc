// The names and versions a plug-in derives from its short name and the host's version.
#include "plugin_runtime/plugin_names.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "logging/log_target.h"
#include "logging/logger.h"
#include "plugin_runtime/semantic_version.h"

namespace plugin_runtime {
namespace {

TEST(IdentifierName, DropsSeparatorsCapitalisesWordsAndSpellsParametersWithBy) {
  const struct {
    const char* prefix;
    const char* text;
    const char* identifier;
  } rows[] = {
      {"", "ulix-auth", "UlixAuth"},
      {"", "a!b+c-d.e/f_g", "ABCDEFG"},
      {"", "x{y}z", "XByYz"},
      {"", "{}", "By"},
      {"", "--a", "A"},
      {"", "9lives", "9lives"},
      {"", "", ""},
      {"GET", "/ulix-auth/v1/config/{platformId}", "GetUlixAuthV1ConfigByPlatformId"},
      {"GET", "/ulix-auth/v1/authorization/access-token", "GetUlixAuthV1AuthorizationAccessToken"},
      {"DELETE", "/ulix-auth/v1/authorization", "DeleteUlixAuthV1Authorization"},
      {"get", "/a", "GetA"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.prefix) + " " + row.text);
    EXPECT_EQ(IdentifierName(row.text, row.prefix), row.identifier);
  }
}

class RecordingTarget : public logging::LogTarget {
 public:
  const char* ClassName() const override { return "RecordingTarget"; }
  bool Write(const logging::LogRecord& record) override {
    lines.push_back({record.level, std::string(record.message)});
    return true;
  }
  std::vector<std::pair<int, std::string>> lines;
};

TEST(FullName, DependsOnTheExactTypeAndComplainsAboutOthers) {
  logging::Logger::Acquire();
  RecordingTarget target;
  target.SetLevel(0);
  logging::Logger::AddTarget(&target);

  EXPECT_EQ(MakePluginNames("ulix-auth", BackendPluginType()).fullName, "zpk-be-ulix-auth");
  EXPECT_EQ(MakePluginNames("ulix-auth", FrontendPluginType()).fullName, "zpk-fe-ulix-auth");
  EXPECT_TRUE(target.lines.empty());

  const PluginNames odd = MakePluginNames("x", PluginTypeRecord{"Backend", "extra"});
  EXPECT_EQ(odd.fullName, "zpk-xx-x");
  ASSERT_EQ(target.lines.size(), 1u);
  EXPECT_EQ(target.lines[0].first, 2);
  EXPECT_EQ(
      target.lines[0].second,
      "            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", \"Backend\") called "
      "with an unknown type");

  target.Detach();
  logging::Logger::Release();
}

TEST(SemanticVersion, TextAppendsPrereleaseAndBuildOnlyWhenSet) {
  EXPECT_EQ((SemanticVersion{1, 2, 3, "rc.1", ""}.Text()), "1.2.3-rc.1");
  EXPECT_EQ((SemanticVersion{1, 2, 3, "", "b7"}.Text()), "1.2.3+b7");
  EXPECT_EQ((SemanticVersion{4294967295u, 0, 1, "a", "b"}.Text()), "4294967295.0.1-a+b");
}

TEST(SemanticVersion, HostMustOfferTheSameMajorAndAtLeastTheMinorAndPatch) {
  const SemanticVersion plugin{18, 2, 5, "", ""};
  const struct {
    SemanticVersion host;
    bool compatible;
  } rows[] = {
      {{18, 2, 5, "", ""}, true},  {{18, 2, 9, "", ""}, true},  {{18, 3, 0, "", ""}, true},
      {{18, 2, 4, "", ""}, false}, {{18, 1, 9, "", ""}, false}, {{17, 9, 9, "", ""}, false},
      {{19, 0, 0, "", ""}, false}, {{19, 2, 5, "", ""}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.host.Text());
    EXPECT_EQ(IsCompatible(row.host, plugin), row.compatible);
  }
}

}  // namespace
}  // namespace plugin_runtime
