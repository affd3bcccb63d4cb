// The process-wide logger: one reference-counted state holding the registered targets, the
// global filters and the three builtin targets, and the printf-style log call every part of the
// plug-in reports through.
#ifndef LOGGING_LOGGER_H_
#define LOGGING_LOGGER_H_

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "logging/log_groups.h"
#include "logging/log_line.h"
#include "logging/log_record.h"
#include "logging/log_target.h"

namespace logging {

// Formats the message with the printf rules (cut at 4095 characters), stamps it with the local
// time and offers the record to every registered target in registration order. Dropped when the
// logger is paused, when `level` is below the global level or when `groups` shares a bit with the
// global suppressed groups. Creates the logger state when there is none. Any thread may call it.
// A call made on the thread that is writing a record, from inside a target, is dropped: it would
// feed the target that is busy writing.
// The formatter is our own and follows the C99 rules everywhere; on Windows GCC would check
// "printf" formats by the older rules of the system's C runtime (no %zu), hence gnu_printf there.
#if defined(__MINGW32__)
#define ULIX_LOG_FORMAT(format_index, first_argument) \
  __attribute__((format(gnu_printf, format_index, first_argument)))
#else
#define ULIX_LOG_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#endif
void Log(std::int32_t level, std::uint64_t groups, const char* format, ...) ULIX_LOG_FORMAT(3, 4);
void LogV(std::int32_t level, std::uint64_t groups, const char* format, std::va_list arguments)
    ULIX_LOG_FORMAT(3, 0);
// A fixed text, written as it is (no format directives are read from it).
inline void LogText(std::int32_t level, std::uint64_t groups, const char* text) {
  Log(level, groups, "%s", text);
}

// The logger's operations as a table of plain functions, in this order.
struct LoggerInterface {
  std::int32_t (*interface_version)();
  void (*acquire)();
  void (*release)();
  void (*set_global_level)(std::int32_t level);
  std::int32_t (*get_global_level)();
  void (*set_suppressed_groups)(std::uint64_t groups);
  std::uint64_t (*get_suppressed_groups)();
  void (*pause)();
  void (*resume)();
  void (*set_second_flag)();
  void (*clear_second_flag)();
  void (*add_target)(LogTarget* target);
  void (*remove_target)(LogTarget* target);
  LogTarget* (*find_target)(std::string_view class_name);
  LogTarget* (*std_err_target)();
  LogTarget* (*std_out_target)();
  LogTarget* (*debugger_target)();
  std::uint64_t (*group_mask)(std::string_view name);
  std::string (*group_names)(std::uint64_t mask);
  std::string (*render_line)(std::string_view line_template, const LogRecord& record);
  const char* (*level_name)(std::int32_t level);
  std::string (*executable_name)();
  LogTime (*current_local_time)();
  std::string (*timestamp_text)(const LogTime& time);
  std::string (*file_name_timestamp_text)(const LogTime& time);
  void (*log)(std::int32_t level, std::uint64_t groups, const char* format, ...);
};

inline constexpr std::int32_t kLoggerInterfaceVersion = 1;

// Access to the process-wide logger state. Every function may be called from any thread; the
// logger lock guards the target list, the settings and the dispatch of records. Functions that
// need the state create it when there is none (with the default settings: global level 1,
// suppressed groups "XTR", not paused; the standard-error and debugger targets registered).
class Logger {
 public:
  Logger() = delete;

  // Takes a reference on the state, creating it with the first one.
  static void Acquire();
  // Drops a reference; the last one detaches every registered target (last registered first),
  // destroys the builtin targets and the state. A release without a reference is ignored.
  static void Release();
  static std::int32_t ReferenceCount();

  static void SetGlobalLevel(std::int32_t level);
  static std::int32_t GlobalLevel();
  static void SetSuppressedGroups(std::uint64_t groups);
  static std::uint64_t SuppressedGroups();
  // While paused every log call is dropped.
  static void Pause();
  static void Resume();
  // A flag kept for the logger's users; the logger itself never reads it.
  static void SetSecondFlag();
  static void ClearSecondFlag();

  // Registers `target` (borrowed: it must stay alive until removed) after the ones already
  // registered; a target already registered or nullptr is ignored.
  static void AddTarget(LogTarget* target);
  // Unregisters `target`; nothing happens when it is not registered.
  static void RemoveTarget(LogTarget* target);
  // The first registered target whose class name is `class_name`, or nullptr.
  static LogTarget* FindTarget(std::string_view class_name);
  // The builtin targets, owned by the state: valid until the last Release.
  static LogTarget* StdErrTarget();
  static LogTarget* StdOutTarget();
  static LogTarget* DebuggerTarget();

  static std::uint64_t GroupMask(std::string_view name);
  static std::string GroupNames(std::uint64_t mask);
  // `record` through `line_template` with this process's executable name, the logger's clock
  // and the calling thread's id.
  static std::string RenderLine(std::string_view line_template, const LogRecord& record);
  static const char* LevelName(std::int32_t level);
  // The running program's file name, read once.
  static std::string ExecutableName();
  static LogTime CurrentLocalTime();
  static std::string TimestampText(const LogTime& time);
  static std::string FileNameTimestampText(const LogTime& time);

  static const LoggerInterface& Interface();
};

}  // namespace logging

#endif  // LOGGING_LOGGER_H_
