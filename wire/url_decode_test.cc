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

TEST(QueryPieces, SplitsDecodesAndSkipsEmptyPieces) {
  using Pieces = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(QueryPieces(""), Pieces{});
  EXPECT_EQ(QueryPieces("a=1&&b=x+y&c&d=%3D&a=2"),
            (Pieces{{"a", "1"}, {"b", "x y"}, {"c", ""}, {"d", "="}, {"a", "2"}}));
}

}  // namespace
}  // namespace wire
