#include "wire/url_decode.h"

#include <gtest/gtest.h>

namespace wire {
namespace {

// What no encoder writes; wire_properties_test.cc decodes what encoders do write.
TEST(PercentDecode, KeepsAPercentSignWithoutTwoHexDigitsAfterIt) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"100%", "100%"}, {"%4", "%4"}, {"%zz", "%zz"}, {"%41%", "A%"}, {"%%41", "%A"}};
  for (const auto& [text, decoded] : rows) {
    EXPECT_EQ(PercentDecode(text, true), decoded) << text;
    EXPECT_EQ(PercentDecode(text, false), decoded) << text;
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
