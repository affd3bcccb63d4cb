// Texts of log lines: level names, timestamps and the rendering of a record through a line
// template ("#D| #L| #G| #M").
#ifndef LOGGING_LOG_LINE_H_
#define LOGGING_LOG_LINE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "logging/log_record.h"

namespace logging {

// Rendered lines, their line feed included, fit a buffer of this size with its terminator.
inline constexpr std::size_t kLineBufferSize = 4096;

// "  OKAY", "  WARN", " ERROR" or "ALWAYS"; "" for levels outside 0 to 3.
const char* LevelName(std::int32_t level);

// "2026-01-31T23:59:58.250".
std::string TimestampText(const LogTime& time);
// "2026-01-31T23-59-58": no characters that file systems reject.
std::string FileNameTimestampText(const LogTime& time);

// What a line may show besides the record itself.
struct LineContext {
  std::string_view executable_name;      // "#E"
  std::int64_t elapsed_nanoseconds = 0;  // "#H": time since the logger's clock started
  std::uint64_t thread_id = 0;           // "#T"
};

// Copies `line_template`, replacing "#D" (time), "#E" (executable), "#G" (group names), "#H"
// (elapsed time), "#L" (level name), "#M" (message) and "#T" (thread id); "#" before any other
// character inserts that character. The text is cut to fit kLineBufferSize and then ends with
// exactly one line feed of its own: none is added when it already ends with one.
std::string RenderLogLine(std::string_view line_template, const LogRecord& record,
                          const LineContext& context);

}  // namespace logging

#endif  // LOGGING_LOG_LINE_H_
