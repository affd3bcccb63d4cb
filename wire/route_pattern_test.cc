// Templates compiled for matching: a few matches and the pattern text, the oracle that
// wire_properties_test.cc holds the matcher to on generated templates and paths.
#include "wire/route_pattern.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace wire {
namespace {

std::vector<std::string> Captures(std::string_view path_template, std::string_view path) {
  std::vector<std::string_view> views;
  if (!RoutePattern::Compile(path_template).Match(path, views)) return {"<no match>"};
  return std::vector<std::string>(views.begin(), views.end());
}

TEST(RoutePattern, MatchesWholePathsAndCapturesParameters) {
  struct Row {
    const char* path_template;
    const char* path;
    std::vector<std::string> captures;
  } rows[] = {
      {"/ulix-auth/v1/config/{platformId}", "/ulix-auth/v1/config/P7", {"P7"}},
      {"/ulix-auth/v1/config/{platformId}", "/ulix-auth/v1/config/P7/x", {"<no match>"}},
      {"/x/{+rest}", "/x/p/q/r", {"p/q/r"}},
      {"/x/{#part}", "/x/#a/b", {"a/b"}},
      {"/{a}{b}", "/abc", {"abc", ""}},
      {"/{+a}/{b}", "/p/q/r", {"p/q", "r"}},
      {"/a.b", "/axb", {"<no match>"}},
      {"/open{x", "/open", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.path_template) + " " + row.path);
    EXPECT_EQ(Captures(row.path_template, row.path), row.captures);
  }
}

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
