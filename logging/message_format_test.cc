#include "logging/message_format.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace logging {
namespace {

// How FormatMessage and the C library disagree: "" when both write the same text and
// FormatMessage returns the library's length clipped to the buffer.
std::string Disagreement(std::size_t size, const char* format, ...) {
  char ours[65] = {}, library[64] = {};
  std::memset(ours, '#', 64);
  std::va_list arguments, copy;
  va_start(arguments, format);
  va_copy(copy, arguments);
  const std::size_t length = FormatMessage(ours, size, format, arguments);
  const int wanted = std::vsnprintf(library, size, format, copy);
  va_end(copy);
  va_end(arguments);
  if (size == 0) return length == 0 ? "" : "wrote " + std::to_string(length) + " into nothing";
  const std::size_t expected = std::min<std::size_t>(static_cast<std::size_t>(wanted), size - 1);
  if (ours == std::string(library) && length == expected) return "";
  return std::string(ours) + " (" + std::to_string(length) + "), not " + library + " (" +
         std::to_string(expected) + ")";
}

TEST(FormatMessage, WritesWhatTheCLibraryWritesForEverySpecification) {
  const char* null_text = nullptr;
  EXPECT_EQ(Disagreement(64, "plain text"), "");
  EXPECT_EQ(Disagreement(64, ""), "");
  EXPECT_EQ(Disagreement(64, "100%% of %s", "it"), "");
  EXPECT_EQ(Disagreement(64, "Is(%s): supported: %s, disabled: %s", "EUW1", "true", "false"), "");
  EXPECT_EQ(Disagreement(64, "%s|%s", null_text, ""), "");
  EXPECT_EQ(Disagreement(64, "%c%c%c", 'a', 0x62, 'c'), "");
  EXPECT_EQ(Disagreement(64, "%d %i %d", 0, -1, std::numeric_limits<int>::min()), "");
  EXPECT_EQ(Disagreement(64, "%u %x %X", 4294967295u, 0xbeefu, 0xbeefu), "");
  EXPECT_EQ(Disagreement(64, "%ld %lu", std::numeric_limits<long>::min(),
                         std::numeric_limits<unsigned long>::max()),
            "");
  EXPECT_EQ(Disagreement(64, "%lld %llx", std::numeric_limits<long long>::min(),
                         std::numeric_limits<unsigned long long>::max()),
            "");
  EXPECT_EQ(Disagreement(64, "%zu %zd %jd %td", std::size_t{42}, std::size_t{7}, std::intmax_t{-9},
                         std::ptrdiff_t{-3}),
            "");
  EXPECT_EQ(Disagreement(64, "%hd %hu %hhd %hhu", 70000, 70000, 300, 300), "");
  // Flags, widths, precisions and floating point go to the C library.
  EXPECT_EQ(Disagreement(64, "%02d:%02d:%03d", 7, 5, 42), "");
  EXPECT_EQ(Disagreement(64, "%.1f s, %s", 2.25, "then"), "");
  EXPECT_EQ(Disagreement(64, "%*d|%-5s|%.3s", 6, 12, "ab", "abcdef"), "");
  EXPECT_EQ(Disagreement(64, "%s took %e", "x", 1e-9), "");
}

TEST(FormatMessage, CutsLongMessagesToTheBuffer) {
  EXPECT_EQ(Disagreement(8, "%s and more", "a long argument"), "");
  EXPECT_EQ(Disagreement(8, "1234567890"), "");
  EXPECT_EQ(Disagreement(8, "%d", -1234567890), "");
  EXPECT_EQ(Disagreement(8, "%.2f%s", 3.14159, "tail"), "");
  EXPECT_EQ(Disagreement(1, "%s", "nothing fits"), "");
  EXPECT_EQ(Disagreement(0, "%s", "no room even for the NUL"), "");
}

}  // namespace
}  // namespace logging
