// The record a log call produces and every log target receives: levels, group bits, the local
// time and the formatted message.
#ifndef LOGGING_LOG_RECORD_H_
#define LOGGING_LOG_RECORD_H_

#include <cstdint>
#include <string_view>

namespace logging {

// Levels; "#L" prints their six-character names ("  OKAY", "  WARN", " ERROR", "ALWAYS").
enum Level : std::int32_t { kOkay = 0, kWarn = 1, kError = 2, kAlways = 3 };

// The predefined group bits. Further names are registered at run time (see log_groups.h).
inline constexpr std::uint64_t kGroupDbg = 1;
inline constexpr std::uint64_t kGroupGen = 2;
inline constexpr std::uint64_t kGroupXtr = 4;
inline constexpr std::uint64_t kGroupPrf = 8;
inline constexpr std::uint64_t kGroupMem = 16;
inline constexpr std::uint64_t kGroupDsk = 32;
inline constexpr std::uint64_t kGroupNet = 64;
inline constexpr std::uint64_t kGroupTst = 128;

// Local wall-clock time of a record.
struct LogTime {
  std::int32_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
  std::int32_t millisecond = 0;
};

// One log call after formatting. `message` points into the logger's formatting buffer: it is
// valid only while the record is being written, so a target that keeps it must copy it.
struct LogRecord {
  LogTime time;
  std::int32_t level = kOkay;
  std::uint64_t groups = 0;
  std::string_view message;
};

}  // namespace logging

#endif  // LOGGING_LOG_RECORD_H_
