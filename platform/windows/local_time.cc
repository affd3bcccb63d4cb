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
  if (_localtime64_s(&fields, &moment) != 0) return LocalTime{};
  return LocalTimeFromCalendar(fields, nanoseconds / 1'000'000);
}

}  // namespace platform
