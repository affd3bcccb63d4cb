#include "wire/url_decode.h"

#include <gtest/gtest.h>

namespace wire {
namespace {

TEST(PercentDecode, DecodesEscapesAndReadsPlusByWhereTheTextStands) {
  struct Row {
    std::string_view text;
    std::string_view in_query;
    std::string_view in_path;
  };
  const Row rows[] = {
      {"a%20b", "a b", "a b"},
      {"a+b", "a b", "a+b"},
      {"%2F%2f", "//", "//"},
      {"100%", "100%", "100%"},  // a "%" at the end, or without two digits, stays
      {"%4", "%4", "%4"},
      {"%zz", "%zz", "%zz"},
      {"%41%", "A%", "A%"},
      {"%00", std::string_view("\0", 1), std::string_view("\0", 1)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(PercentDecode(row.text, true), row.in_query);
    EXPECT_EQ(PercentDecode(row.text, false), row.in_path);
  }
}

TEST(SplitPairs, SplitsAtTheFirstEqualsSignSkipsEmptyPiecesAndLeavesEscapes) {
  using Pairs = std::vector<std::pair<std::string_view, std::string_view>>;
  EXPECT_EQ(SplitPairs(""), Pairs{});
  EXPECT_EQ(SplitPairs("a=1&&b=x+y&c&d=%3D&t=a=b&=v&"),
            (Pairs{{"a", "1"}, {"b", "x+y"}, {"c", ""}, {"d", "%3D"}, {"t", "a=b"}, {"", "v"}}));
  using Pieces = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(QueryPieces("b=x+y&d=%3D&a=2"), (Pieces{{"b", "x y"}, {"d", "="}, {"a", "2"}}));
}

}  // namespace
}  // namespace wire
