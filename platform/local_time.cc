#include "platform/local_time.h"

#include <time.h>

namespace platform {

LocalTime CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return LocalTimeAt(now.tv_sec, static_cast<std::int32_t>(now.tv_nsec));
}

LocalTime LocalTimeAt(std::int64_t seconds, std::int32_t nanoseconds) {
  const time_t moment = static_cast<time_t>(seconds);
  tm fields{};
  localtime_r(&moment, &fields);
  LocalTime result;
  result.year = fields.tm_year + 1900;
  result.month = fields.tm_mon + 1;
  result.day = fields.tm_mday;
  result.hour = fields.tm_hour;
  result.minute = fields.tm_min;
  result.second = fields.tm_sec;
  result.millisecond = nanoseconds / 1'000'000;
  return result;
}

}  // namespace platform
