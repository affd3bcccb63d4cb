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

struct Formatted {
  std::string text;
  std::size_t length;
};

Formatted Ours(std::size_t size, const char* format, ...) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  std::va_list arguments;
  va_start(arguments, format);
  const std::size_t length = FormatMessage(buffer, size, format, arguments);
  va_end(arguments);
  return {size == 0 ? std::string() : std::string(buffer), length};
}

// What the C library writes, with its return value clipped the way FormatMessage clips.
Formatted Library(std::size_t size, const char* format, ...) {
  char buffer[64];
  std::va_list arguments;
  va_start(arguments, format);
  const int wanted = std::vsnprintf(buffer, size, format, arguments);
  va_end(arguments);
  const std::size_t length =
      size == 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(wanted), size - 1);
  return {size == 0 ? std::string() : std::string(buffer), length};
}

#define EXPECT_SAME_AS_LIBRARY(size, ...)                   \
  do {                                                      \
    const Formatted ours = Ours(size, __VA_ARGS__);         \
    const Formatted library = Library(size, __VA_ARGS__);   \
    EXPECT_EQ(ours.text, library.text) << #__VA_ARGS__;     \
    EXPECT_EQ(ours.length, library.length) << #__VA_ARGS__; \
  } while (false)

TEST(FormatMessage, WritesWhatTheCLibraryWritesForEverySpecification) {
  const char* null_text = nullptr;
  EXPECT_SAME_AS_LIBRARY(64, "plain text");
  EXPECT_SAME_AS_LIBRARY(64, "");
  EXPECT_SAME_AS_LIBRARY(64, "100%% of %s", "it");
  EXPECT_SAME_AS_LIBRARY(64, "Is(%s): supported: %s, disabled: %s", "EUW1", "true", "false");
  EXPECT_SAME_AS_LIBRARY(64, "%s|%s", null_text, "");
  EXPECT_SAME_AS_LIBRARY(64, "%c%c%c", 'a', 0x62, 'c');
  EXPECT_SAME_AS_LIBRARY(64, "%d %i %d", 0, -1, std::numeric_limits<int>::min());
  EXPECT_SAME_AS_LIBRARY(64, "%u %x %X", 4294967295u, 0xbeefu, 0xbeefu);
  EXPECT_SAME_AS_LIBRARY(64, "%ld %lu", std::numeric_limits<long>::min(),
                         std::numeric_limits<unsigned long>::max());
  EXPECT_SAME_AS_LIBRARY(64, "%lld %llx", std::numeric_limits<long long>::min(),
                         std::numeric_limits<unsigned long long>::max());
  EXPECT_SAME_AS_LIBRARY(64, "%zu %zd %jd %td", std::size_t{42}, std::size_t{7}, std::intmax_t{-9},
                         std::ptrdiff_t{-3});
  EXPECT_SAME_AS_LIBRARY(64, "%hd %hu %hhd %hhu", 70000, 70000, 300, 300);
  // Flags, widths, precisions and floating point go to the C library.
  EXPECT_SAME_AS_LIBRARY(64, "%02d:%02d:%03d", 7, 5, 42);
  EXPECT_SAME_AS_LIBRARY(64, "%.1f s, %s", 2.25, "then");
  EXPECT_SAME_AS_LIBRARY(64, "%*d|%-5s|%.3s", 6, 12, "ab", "abcdef");
  EXPECT_SAME_AS_LIBRARY(64, "%s took %e", "x", 1e-9);
}

TEST(FormatMessage, CutsLongMessagesToTheBuffer) {
  EXPECT_SAME_AS_LIBRARY(8, "%s and more", "a long argument");
  EXPECT_SAME_AS_LIBRARY(8, "1234567890");
  EXPECT_SAME_AS_LIBRARY(8, "%d", -1234567890);
  EXPECT_SAME_AS_LIBRARY(8, "%.2f%s", 3.14159, "tail");
  EXPECT_SAME_AS_LIBRARY(1, "%s", "nothing fits");
  EXPECT_EQ(Ours(0, "%s", "no room even for the NUL").length, 0u);
}

}  // namespace
}  // namespace logging
