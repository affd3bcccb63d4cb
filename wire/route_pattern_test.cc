// Templates compiled for matching: the matcher against the ECMAScript pattern it replaces, and
// the pattern text itself.
#include "wire/route_pattern.h"

#include <cstdint>
#include <random>
#include <regex>
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
      {"/ulix-auth/v1/config/{platformId}", "/ulix-auth/v1/config/", {""}},
      {"/ulix-auth/v1/config/{platformId}", "/ulix-auth/v1/config/a?b=c/d", {"<no match>"}},
      {"/x/{+rest}", "/x/p/q/r", {"p/q/r"}},
      {"/x/{+rest}", "/x/p\nq", {"<no match>"}},
      {"/x/{#part}", "/x/#a/b", {"a/b"}},
      {"/x/{#part}", "/x/a", {"<no match>"}},
      {"/{a}{b}", "/abc", {"abc", ""}},
      {"/{+a}/{b}", "/p/q/r", {"p/q", "r"}},
      {"/a.b", "/a.b", {}},
      {"/a.b", "/axb", {"<no match>"}},
      {"/v{n}.json", "/v12.json", {"12"}},
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

// The matcher must accept exactly what the ECMAScript pattern accepts and capture the same
// texts, on paths built from the characters that matter to either.
TEST(RoutePattern, AgreesWithStdRegexOnGeneratedPaths) {
  const char* templates[] = {
      "/ulix-auth/v1/config/{platformId}",
      "/x/{+rest}",
      "/x/{#frag}",
      "/{a}/{b}",
      "/{a}{b}/c",
      "/{+a}/{b}",
      "/a.b/{id}.json",
      "/{a}#{+b}",
      "/lit/only",
      "/{+a}{+b}x",
  };
  const std::string alphabet = "ab/#.?=%x\n\r";
  std::mt19937 random(12345);
  for (const char* path_template : templates) {
    SCOPED_TRACE(path_template);
    const std::regex pattern(TemplateToPattern(path_template, nullptr),
                             std::regex::ECMAScript | std::regex::optimize);
    const RoutePattern route = RoutePattern::Compile(path_template);
    // Half the paths start from the template with its braces replaced, so matches are common.
    std::string seed;
    for (const char* c = path_template; *c != '\0'; ++c) {
      if (*c == '{' || *c == '}' || *c == '+') continue;
      seed.push_back(*c);
    }
    int matches = 0;
    for (int i = 0; i < 3000; ++i) {
      std::string path = i % 2 == 0 ? seed : "/";
      const int edits = static_cast<int>(random() % 6);
      for (int e = 0; e < edits; ++e) {
        const std::size_t at = random() % (path.size() + 1);
        if (random() % 3 == 0 && at < path.size()) {
          path.erase(at, 1);
        } else {
          path.insert(at, 1, alphabet[random() % alphabet.size()]);
        }
      }
      std::smatch expected;
      const bool regex_matched = std::regex_match(path, expected, pattern);
      std::vector<std::string_view> captures;
      const bool matched = route.Match(path, captures);
      ASSERT_EQ(matched, regex_matched) << path;
      if (!matched) continue;
      ++matches;
      ASSERT_EQ(captures.size() + 1, expected.size()) << path;
      for (std::size_t g = 0; g < captures.size(); ++g) {
        EXPECT_EQ(captures[g], expected[g + 1].str()) << path << " group " << g;
      }
    }
    EXPECT_GT(matches, 10);
  }
}

}  // namespace
}  // namespace wire
