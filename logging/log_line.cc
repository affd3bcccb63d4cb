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

bool FitsDigits(std::int32_t value, int width) {
  std::int32_t limit = 1;
  for (int i = 0; i < width; ++i) limit *= 10;
  return value >= 0 && value < limit;
}

// Writes `value` as exactly `width` decimal digits; FitsDigits must hold.
void PutDigits(char* out, std::int32_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// "%p" of a non-zero address: "0x" and lower-case hexadecimal without leading zeros.
void AppendPointerText(std::string& line, std::uint64_t value) {
  char text[2 + 16];
  std::size_t used = 0;
  char digits[16];
  do {
    digits[used++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  text[0] = '0';
  text[1] = 'x';
  for (std::size_t i = 0; i < used; ++i) text[2 + i] = digits[used - 1 - i];
  AppendCut(line, std::string_view(text, 2 + used));
}

}  // namespace

const char* LevelName(std::int32_t level) {
  static constexpr const char* kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= 0 && level <= 3 ? kNames[level] : "";
}

std::string TimestampText(const LogTime& time) {
  // Every line with "#D" needs this, and printf is most of its cost; fields that the fixed
  // widths cannot hold take the printf path so that the text is always what printf would give.
  if (FitsDigits(time.year, 4) && FitsDigits(time.month, 2) && FitsDigits(time.day, 2) &&
      FitsDigits(time.hour, 2) && FitsDigits(time.minute, 2) && FitsDigits(time.second, 2) &&
      FitsDigits(time.millisecond, 3)) {
    char text[] = "0000-00-00T00:00:00.000";
    PutDigits(text, time.year, 4);
    PutDigits(text + 5, time.month, 2);
    PutDigits(text + 8, time.day, 2);
    PutDigits(text + 11, time.hour, 2);
    PutDigits(text + 14, time.minute, 2);
    PutDigits(text + 17, time.second, 2);
    PutDigits(text + 20, time.millisecond, 3);
    return std::string(text, sizeof(text) - 1);
  }
  char text[96];
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
        // The thread id printed as an address; thread ids are never 0, which "%p" shows
        // differently.
        if (context.thread_id != 0) {
          AppendPointerText(line, static_cast<std::uintptr_t>(context.thread_id));
        } else {
          std::snprintf(text, sizeof(text), "%p", static_cast<void*>(nullptr));
          AppendCut(line, text);
        }
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
