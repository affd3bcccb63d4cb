#include "logging/positional_formatter.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace logging {
namespace {

TEST(PositionalFormatter, FormatsByPositionLikePrintfAndStopsAtWhatItCannotRender) {
  struct Case {
    const char* format;
    std::vector<FormatArgument> arguments;
    const char* expected;
  };
  const Case cases[] = {
      // Numbered placeholders take the type's default conversion.
      {"%2 %1", {"a", 5}, "5 a"},
      {"%1 and %1", {"x"}, "x and x"},
      {"%1", {std::int64_t{-9000000000}}, "-9000000000"},
      {"%1", {std::uint64_t{18446744073709551615u}}, "18446744073709551615"},
      {"%1", {std::uint32_t{4000000000u}}, "4000000000"},
      {"%1", {2.5}, "2.5"},
      {"%1d", {7}, "7d"},
      {"100%% of %1%%", {3}, "100% of 3%"},
      {"no placeholders", {}, "no placeholders"},
      // Written specifications; a letter the type does not allow gives the default conversion.
      {"%1$05d", {42}, "00042"},
      {"%1$x", {255}, "ff"},
      {"%1$#X", {std::int64_t{0xABCDEF0123}}, "0XABCDEF0123"},
      {"%1$.2f", {2.5}, "2.50"},
      {"%1$-4s|", {"ab"}, "ab  |"},
      {"%1$c", {65}, "A"},
      {"%1$hhd", {300}, "44"},
      {"%1$lld", {-1}, "-1"},
      {"%1$d", {std::uint32_t{4294967295u}}, "-1"},
      {"%1$s", {42}, "42"},
      {"%1$d", {"text"}, "text"},
      {"%1$x", {2.5}, "2.5"},
      {"%1$q", {5}, "5"},
      {"%1$Lf", {1.5}, "1.500000"},
      // Widths and precisions taken from arguments.
      {"%1$*2$d|", {7, 5}, "    7|"},
      {"%1$-*2$d|", {7, 3}, "7  |"},
      {"%*d|", {4, 7}, "   7|"},
      {"%*d|", {-3, 7}, "7  |"},
      {"%.*f", {0, 3.14159}, "3"},
      {"%.*f", {-1, 1.5}, "1.500000"},
      {"%1$.*2$s", {"abcdef", 3}, "abc"},
      // Ordinary specifications take the arguments in order.
      {"%s-%s", {"a", "b"}, "a-b"},
      {"[%5s]", {"ab"}, "[   ab]"},
      {"%y", {5}, "5"},
      {"%.3s", {"abcdef"}, "abc"},
      // Output stops at a specification that cannot be rendered.
      {"a %d b %d c", {1}, "a 1 b "},
      {"x %2$d y", {1}, "x "},
      {"x %3 y", {}, "x "},
      {"x %1$*3$d y", {1, 2}, "x "},
      {"x %*d y", {"wide", 2}, "x "},
      {"trailing %", {}, "trailing "},
      {"open %1$", {1}, "open "},
      {"a%1$nb", {5}, "ab"},
      {"a%nb", {5}, "ab"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatPositional(c.format, c.arguments), c.expected) << c.format;
}

TEST(PositionalFormatter, AcceptsSpecificationsUpToSixtyCharactersAndCutsToTheBuffer) {
  std::string sixty = "%1$" + std::string(55, '0') + "5d";
  std::string sixty_one = "%1$" + std::string(56, '0') + "5d";
  EXPECT_EQ(FormatPositional("a" + sixty, {42}), "a00042");
  EXPECT_EQ(FormatPositional("a" + sixty_one + "b", {42}), "a");
  // The output is cut to one byte less than the buffer.
  std::vector<FormatArgument> word = {"abcdef"};
  EXPECT_EQ(FormatPositional("%1%1", word, 8), "abcdefa");
  EXPECT_EQ(FormatPositional("%1$10s", word, 4), "   ");
  EXPECT_EQ(FormatPositional("abc", {}, 1), "");
  EXPECT_EQ(FormatPositional("abc", {}, 0), "");

  std::string long_text(5000, 'x');
  EXPECT_EQ(FormatPositional("%1", {long_text}).size(), 4095u);
  EXPECT_EQ(FormatPositional("%1$300s", std::vector<FormatArgument>{"a"}, 1000).size(), 300u);
  EXPECT_EQ(FormatPositional("%1$3000d|", {1}).size(), 3001u);
}

}  // namespace
}  // namespace logging
