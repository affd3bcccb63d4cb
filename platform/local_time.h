// The wall-clock time in the machine's time zone, split into calendar fields.
#ifndef PLATFORM_LOCAL_TIME_H_
#define PLATFORM_LOCAL_TIME_H_

#include <cstdint>
#include <ctime>

namespace platform {

struct LocalTime {
  std::int32_t year = 0;    // four digits, for example 2026
  std::int32_t month = 0;   // 1 to 12
  std::int32_t day = 0;     // 1 to 31
  std::int32_t hour = 0;    // 0 to 23
  std::int32_t minute = 0;  // 0 to 59
  std::int32_t second = 0;  // 0 to 60 (leap second)
  std::int32_t millisecond = 0;
};

// The current local time. Any thread may call it.
LocalTime CurrentLocalTime();

// The local time of a moment given as seconds and nanoseconds since 1970-01-01 00:00 UTC, in the
// time zone the process runs in. Any thread may call it.
LocalTime LocalTimeAt(std::int64_t seconds, std::int32_t nanoseconds);

// The fields of a C runtime calendar time, with the milliseconds it does not carry.
LocalTime LocalTimeFromCalendar(const std::tm& fields, std::int32_t millisecond);

}  // namespace platform

#endif  // PLATFORM_LOCAL_TIME_H_
