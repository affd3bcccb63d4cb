#include "logging/log_line.h"

#include <cinttypes>
#include <cstdio>

#include "logging/log_groups.h"

namespace logging {
namespace {

// One byte of the buffer is the terminator and one is kept for the closing line feed.
constexpr std::size_t kMaxLineText = kLineBufferSize - 2;

void AppendCut(std::string& line, std::string_view text) {
  if (line.size() >= kMaxLineText) return;
  line.append(text.substr(0, kMaxLineText - line.size()));
}

}  // namespace

const char* LevelName(std::int32_t level) {
  static constexpr const char* kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= 0 && level <= 3 ? kNames[level] : "";
}

std::string TimestampText(const LogTime& time) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month,
                time.day, time.hour, time.minute, time.second, time.millisecond);
  return text;
}

std::string FileNameTimestampText(const LogTime& time) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d-%02d-%02d", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return text;
}

std::string RenderLogLine(std::string_view line_template, const LogRecord& record,
                          const LineContext& context) {
  std::string line;
  line.reserve(line_template.size() + record.message.size() + 64);
  for (std::size_t i = 0; i < line_template.size() && line.size() < kMaxLineText; ++i) {
    char c = line_template[i];
    if (c != '#') {
      line += c;
      continue;
    }
    if (++i == line_template.size()) break;  // a lone "#" at the end inserts nothing
    char text[64];
    switch (line_template[i]) {
      case 'D':
        AppendCut(line, TimestampText(record.time));
        break;
      case 'E':
        AppendCut(line, context.executable_name);
        break;
      case 'G':
        AppendCut(line, GroupNames(record.groups));
        break;
      case 'H': {
        std::int64_t milliseconds = context.elapsed_nanoseconds / 1'000'000;
        std::snprintf(text, sizeof(text), "%06d.%03d", static_cast<int>(milliseconds / 1000),
                      static_cast<int>(milliseconds % 1000));
        AppendCut(line, text);
        break;
      }
      case 'L':
        AppendCut(line, LevelName(record.level));
        break;
      case 'M':
        AppendCut(line, record.message);
        break;
      case 'T':
        std::snprintf(text, sizeof(text), "%p",
                      reinterpret_cast<void*>(static_cast<std::uintptr_t>(context.thread_id)));
        AppendCut(line, text);
        break;
      default:
        line += line_template[i];
        break;
    }
  }
  if (line.empty() || line.back() != '\n') line += '\n';
  return line;
}

}  // namespace logging
