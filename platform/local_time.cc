#include "platform/local_time.h"

namespace platform {

LocalTime LocalTimeFromCalendar(const std::tm& fields, std::int32_t millisecond) {
  LocalTime result;
  result.year = fields.tm_year + 1900;
  result.month = fields.tm_mon + 1;
  result.day = fields.tm_mday;
  result.hour = fields.tm_hour;
  result.minute = fields.tm_min;
  result.second = fields.tm_sec;
  result.millisecond = millisecond;
  return result;
}

}  // namespace platform
