#include "plugin_runtime/semantic_version.h"

#include "gtest/gtest.h"

namespace plugin_runtime {
namespace {

TEST(SemanticVersion, TextAppendsPrereleaseAndBuildOnlyWhenSet) {
  EXPECT_EQ(PluginApiVersion().Text(), "18.0.0");
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
