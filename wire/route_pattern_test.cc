// The pattern text of templates: the oracle that wire_properties_test.cc holds the compiled
// matcher to, on generated templates and paths.
#include "wire/route_pattern.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace wire {
namespace {

TEST(RoutePattern, DropsOneTrailingSlashFromLongerTemplates) {
  EXPECT_EQ(TrimTemplate("/a/b/"), "/a/b");
  EXPECT_EQ(TrimTemplate("/a/b//"), "/a/b/");
  EXPECT_EQ(TrimTemplate("/"), "/");
  EXPECT_EQ(TrimTemplate(""), "");
}

TEST(RoutePattern, WritesTheEcmaScriptPattern) {
  std::vector<std::string> names;
  EXPECT_EQ(TemplateToPattern("/a.b/{id}/c+d/{+rest}", &names), "/a\\.b/([^/]*)/c\\+d/(.*)");
  EXPECT_EQ(names, (std::vector<std::string>{"id", "rest"}));
  names.clear();
  EXPECT_EQ(TemplateToPattern("^$*?()[]|\\-/{#frag}", &names),
            "\\^\\$\\*\\?\\(\\)\\[\\]\\|\\\\-/#(.*)");
  EXPECT_EQ(names, (std::vector<std::string>{"frag"}));
}

}  // namespace
}  // namespace wire
