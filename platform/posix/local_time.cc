#include "platform/local_time.h"

#include <time.h>

namespace platform {

LocalTime CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // Every log line asks for the time, and the calendar fields change once a second (a change of
  // daylight saving time too falls on a whole second), so each thread keeps the second it last
  // converted and only the milliseconds are new.
  struct Converted {
    time_t second = -1;
    LocalTime fields;
  };
  thread_local Converted last;
  if (now.tv_sec != last.second) {
    last.fields = LocalTimeAt(now.tv_sec, 0);
    last.second = now.tv_sec;
  }
  LocalTime result = last.fields;
  result.millisecond = static_cast<std::int32_t>(now.tv_nsec / 1'000'000);
  return result;
}

LocalTime LocalTimeAt(std::int64_t seconds, std::int32_t nanoseconds) {
  const time_t moment = static_cast<time_t>(seconds);
  tm fields{};
  localtime_r(&moment, &fields);
  return LocalTimeFromCalendar(fields, nanoseconds / 1'000'000);
}

}  // namespace platform
