#include "platform/local_time.h"

#include <windows.h>

#include <ctime>

namespace platform {

LocalTime CurrentLocalTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.millisecond = now.wMilliseconds;
  return result;
}

LocalTime LocalTimeAt(std::int64_t seconds, std::int32_t nanoseconds) {
  // The C runtime's conversion, unlike the system's, follows the TZ variable when it is set,
  // as the process's time zone does on other systems.
  const __time64_t moment = seconds;
  tm fields{};
  LocalTime result;
  if (_localtime64_s(&fields, &moment) != 0) return result;
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
