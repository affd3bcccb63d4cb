#include "logging/log_line.h"

#include <string>

#include "gtest/gtest.h"

namespace logging {
namespace {

LogRecord SampleRecord(std::string_view message) {
  return {{2026, 1, 31, 23, 59, 58, 250}, kAlways, 0x41, message};
}

constexpr LineContext kContext = {"host", 12'345'678'901, 0x2a};

TEST(LogLine, ReplacesEachCodeOfTheTemplateAndEndsWithOneLineFeed) {
  struct Case {
    const char* line_template;
    const char* expected;
    const char* message = "hello";
  };
  const Case cases[] = {
      {"#D", "2026-01-31T23:59:58.250\n"},
      {"#E", "host\n"},
      {"#G", "DBG;NET\n"},
      {"#H", "000012.345\n"},
      {"#L", "ALWAYS\n"},
      {"#M", "hello\n"},
      {"#T", "0x2a\n"},
      {"a##b#Z", "a#bZ\n"},
      {"ends with #", "ends with \n"},
      {"", "\n"},
      {"#D| #L| #G| #M", "2026-01-31T23:59:58.250| ALWAYS| DBG;NET| hello\n"},
      {"#E(#T): #L| #M", "host(0x2a): ALWAYS| hello\n"},
      // The message's own line feed ends the line; none is added after it.
      {"#M", "done\n", "done\n"},
      {"#M", "two\n\n", "two\n\n"},
      {"#M!", "done\n!\n", "done\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line_template);
    EXPECT_EQ(RenderLogLine(c.line_template, SampleRecord(c.message), kContext), c.expected);
  }
  // Thread ids print as addresses: neither cut to 32 bits' sign nor padded.
  EXPECT_EQ(RenderLogLine("#T", SampleRecord("m"), {"host", 0, 0xabcdef01}), "0xabcdef01\n");
  EXPECT_EQ(RenderLogLine("#T", SampleRecord("m"), {"host", 0, 1}), "0x1\n");
}

TEST(LogLine, CutsLongLinesToTheBufferAndStillEndsWithALineFeed) {
  std::string message(5000, 'x');
  std::string line = RenderLogLine("> #M", SampleRecord(message), kContext);
  ASSERT_EQ(line.size(), 4095u);
  EXPECT_EQ(line.substr(0, 3), "> x");
  EXPECT_EQ(line.substr(4092), "xx\n");
  // The template's own text is cut the same way.
  EXPECT_EQ(RenderLogLine(std::string(5000, 't'), SampleRecord(""), kContext),
            std::string(4094, 't') + "\n");
}

TEST(LogLine, NamesLevelsAndFormatsTimestamps) {
  std::string names;
  for (int level = -1; level <= 4; ++level) names += std::string(LevelName(level)) + "|";
  EXPECT_EQ(names, "|  OKAY|  WARN| ERROR|ALWAYS||");
  LogTime time = {2026, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(TimestampText(time), "2026-01-02T03:04:05.006");
  EXPECT_EQ(FileNameTimestampText(time), "2026-01-02T03-04-05");
  // Fields too wide for their columns keep printf's rendering.
  EXPECT_EQ(TimestampText({12345, 13, 0, 24, 60, 61, 1000}), "12345-13-00T24:60:61.1000");
  EXPECT_EQ(TimestampText({2026, 1, 2, 3, 4, 5, 1000}), "2026-01-02T03:04:05.1000");
  EXPECT_EQ(TimestampText({-1, 1, 1, 0, 0, 0, 0}), "-001-01-01T00:00:00.000");
}

}  // namespace
}  // namespace logging
