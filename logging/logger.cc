#include "logging/logger.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "logging/console_log_targets.h"
#include "logging/message_format.h"
#include "logging/positional_formatter.h"
#include "platform/executable_name.h"
#include "platform/local_time.h"
#include "platform/monotonic_clock.h"
#include "platform/recursive_lock.h"
#include "platform/thread_id.h"

namespace logging {
namespace {

constexpr std::int32_t kDefaultGlobalLevel = kWarn;
constexpr std::uint64_t kDefaultSuppressedGroups = kGroupXtr;

struct Registration {
  LogTarget* target;
  const LogTargetInterface* interface;
};

struct LoggerState {
  std::vector<Registration> targets;
  bool second_flag = false;
  std::unique_ptr<StdErrLogTarget> std_err;
  std::unique_ptr<StdOutLogTarget> std_out;
  std::unique_ptr<DebuggerConsoleLogTarget> debugger;
};

using Hold = std::lock_guard<platform::RecursiveLock>;

// Recursive: destroying the state detaches targets, which call back into RemoveTarget. Never
// destroyed, so logging from static destructors still finds a lock; built in static storage
// rather than on the heap so that unloading the library leaves nothing behind.
platform::RecursiveLock& LoggerLock() {
  alignas(platform::RecursiveLock) static unsigned char storage[sizeof(platform::RecursiveLock)];
  static auto* lock = new (storage) platform::RecursiveLock;
  return *lock;
}

// The settings that every log call reads live outside the state as atomics, so that a call that
// is filtered out costs no lock. They are written under the logger lock and reset when the state
// is created.
std::atomic<LoggerState*> g_state{nullptr};
std::atomic<std::int32_t> g_references{0};
std::atomic<std::int32_t> g_global_level{kDefaultGlobalLevel};
std::atomic<std::uint64_t> g_suppressed_groups{kDefaultSuppressedGroups};
std::atomic<bool> g_paused{false};
// When the logger's clock ("#H") started: at the creation of the latest state.
std::atomic<std::int64_t> g_clock_start{0};

// Read once: the program does not change while it runs. Lines are rendered inside a target's
// lock, sometimes outside the logger's, so rendering must not need the logger lock.
std::string_view ExecutableNameOnce() {
  // Kept in static storage rather than on the heap, so that once every plug-in has stopped the
  // library holds no heap block at all and its memory statistics balance. A file name has at
  // most 255 bytes.
  struct Name {
    char text[256];
    std::size_t length;
  };
  static const Name name = [] {
    const std::string file_name = platform::ExecutableFileName();
    Name result{};
    result.length = std::min(file_name.size(), sizeof(result.text));
    std::memcpy(result.text, file_name.data(), result.length);
    return result;
  }();
  return std::string_view(name.text, name.length);
}

// Set while this thread writes a record to the targets.
thread_local bool t_dispatching = false;

LoggerState& StateLocked() {
  LoggerState* state = g_state.load(std::memory_order_relaxed);
  if (state != nullptr) return *state;
  state = new LoggerState;
  ExecutableNameOnce();
  g_clock_start.store(platform::MonotonicNanoseconds());
  g_global_level.store(kDefaultGlobalLevel);
  g_suppressed_groups.store(kDefaultSuppressedGroups);
  g_paused.store(false);
  state->std_err = std::make_unique<StdErrLogTarget>();
  state->std_out = std::make_unique<StdOutLogTarget>();
  state->debugger = std::make_unique<DebuggerConsoleLogTarget>();
  g_state.store(state, std::memory_order_release);
  Logger::AddTarget(state->std_err.get());
  Logger::AddTarget(state->debugger.get());
  return *state;
}

// Creates the state when there is none. Returns nothing: without the lock, the state may be
// destroyed by another thread at any moment.
void EnsureState() {
  if (g_state.load(std::memory_order_acquire) != nullptr) return;
  Hold hold(LoggerLock());
  StateLocked();
}

bool TargetAccepts(const Registration& entry, const LogRecord& record) {
  const LogTargetInterface& calls = *entry.interface;
  if (record.level < calls.get_level(entry.target)) return false;
  if (record.groups == 0) return true;
  if ((record.groups & calls.get_suppressed_groups(entry.target)) != 0) return false;
  std::uint64_t enabled = calls.get_enabled_groups(entry.target);
  return enabled == 0 || (record.groups & enabled) != 0;
}

// Marks this thread as writing a record for as long as it lives.
class DispatchScope {
 public:
  DispatchScope() { t_dispatching = true; }
  ~DispatchScope() { t_dispatching = false; }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;
};

void Dispatch(const LogRecord& record) {
  Hold hold(LoggerLock());
  LoggerState& state = StateLocked();
  DispatchScope scope;
  // By index: a target may detach itself (or another) while writing.
  for (std::size_t i = 0; i < state.targets.size(); ++i) {
    Registration entry = state.targets[i];
    try {
      if (TargetAccepts(entry, record)) entry.interface->write_record(entry.target, record);
    } catch (...) {
      // Logging happens in destructors and error paths: a failing target loses this record
      // but must not take the caller down.
    }
  }
}

void DestroyStateLocked() {
  LoggerState* state = g_state.load(std::memory_order_relaxed);
  if (state == nullptr) return;
  while (!state->targets.empty()) {
    Registration last = state->targets.back();
    last.interface->detach(last.target);
    // A target whose Detach does not unregister it is taken off all the same.
    if (!state->targets.empty() && state->targets.back().target == last.target) {
      Logger::RemoveTarget(last.target);
    }
  }
  g_state.store(nullptr, std::memory_order_release);
  delete state;
}

LogTime ToLogTime(const platform::LocalTime& time) {
  return {time.year, time.month, time.day, time.hour, time.minute, time.second, time.millisecond};
}

}  // namespace

void LogV(std::int32_t level, std::uint64_t groups, const char* format, std::va_list arguments) {
  if (t_dispatching) return;
  EnsureState();
  if (g_paused.load(std::memory_order_relaxed) ||
      level < g_global_level.load(std::memory_order_relaxed) ||
      (groups & g_suppressed_groups.load(std::memory_order_relaxed)) != 0) {
    return;
  }
  char buffer[kMessageBufferSize];
  const std::size_t kept = FormatMessage(buffer, sizeof(buffer), format, arguments);
  LogRecord record{ToLogTime(platform::CurrentLocalTime()), level, groups,
                   std::string_view(buffer, kept)};
  Dispatch(record);
}

void Log(std::int32_t level, std::uint64_t groups, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  LogV(level, groups, format, arguments);
  va_end(arguments);
}

void Logger::Acquire() {
  Hold hold(LoggerLock());
  g_references.fetch_add(1);
  StateLocked();
}

void Logger::Release() {
  Hold hold(LoggerLock());
  std::int32_t references = g_references.load();
  if (references == 0) return;
  if (g_references.fetch_sub(1) == 1) DestroyStateLocked();
}

std::int32_t Logger::ReferenceCount() { return g_references.load(); }

void Logger::SetGlobalLevel(std::int32_t level) {
  Hold hold(LoggerLock());
  StateLocked();
  g_global_level.store(level);
}

std::int32_t Logger::GlobalLevel() {
  EnsureState();
  return g_global_level.load();
}

void Logger::SetSuppressedGroups(std::uint64_t groups) {
  Hold hold(LoggerLock());
  StateLocked();
  g_suppressed_groups.store(groups);
}

std::uint64_t Logger::SuppressedGroups() {
  EnsureState();
  return g_suppressed_groups.load();
}

void Logger::Pause() {
  Hold hold(LoggerLock());
  StateLocked();
  g_paused.store(true);
}

void Logger::Resume() {
  Hold hold(LoggerLock());
  StateLocked();
  g_paused.store(false);
}

void Logger::SetSecondFlag() {
  Hold hold(LoggerLock());
  StateLocked().second_flag = true;
}

void Logger::ClearSecondFlag() {
  Hold hold(LoggerLock());
  StateLocked().second_flag = false;
}

void Logger::AddTarget(LogTarget* target) {
  if (target == nullptr) return;
  Hold hold(LoggerLock());
  LoggerState& state = StateLocked();
  if (target->IsRegistered()) return;
  state.targets.push_back({target, &target->Interface()});
  target->SetRegistered(true);
}

void Logger::RemoveTarget(LogTarget* target) {
  if (target == nullptr) return;
  Hold hold(LoggerLock());
  // Removing needs no state: without one nothing is registered.
  LoggerState* state = g_state.load(std::memory_order_relaxed);
  if (state == nullptr) return;
  auto found = std::find_if(state->targets.begin(), state->targets.end(),
                            [&](const Registration& entry) { return entry.target == target; });
  if (found == state->targets.end()) return;
  state->targets.erase(found);
  target->SetRegistered(false);
}

LogTarget* Logger::FindTarget(std::string_view class_name) {
  Hold hold(LoggerLock());
  for (const Registration& entry : StateLocked().targets) {
    if (class_name == entry.interface->class_name(entry.target)) return entry.target;
  }
  return nullptr;
}

LogTarget* Logger::StdErrTarget() {
  Hold hold(LoggerLock());
  return StateLocked().std_err.get();
}

LogTarget* Logger::StdOutTarget() {
  Hold hold(LoggerLock());
  return StateLocked().std_out.get();
}

LogTarget* Logger::DebuggerTarget() {
  Hold hold(LoggerLock());
  return StateLocked().debugger.get();
}

std::uint64_t Logger::GroupMask(std::string_view name) { return logging::GroupMask(name); }

std::string Logger::GroupNames(std::uint64_t mask) { return logging::GroupNames(mask); }

std::string Logger::RenderLine(std::string_view line_template, const LogRecord& record) {
  LineContext context;
  context.executable_name = ExecutableNameOnce();
  context.elapsed_nanoseconds = platform::MonotonicNanoseconds() - g_clock_start.load();
  context.thread_id = platform::CurrentThreadId();
  return RenderLogLine(line_template, record, context);
}

const char* Logger::LevelName(std::int32_t level) { return logging::LevelName(level); }

std::string Logger::ExecutableName() { return std::string(ExecutableNameOnce()); }

LogTime Logger::CurrentLocalTime() { return ToLogTime(platform::CurrentLocalTime()); }

std::string Logger::TimestampText(const LogTime& time) { return logging::TimestampText(time); }

std::string Logger::FileNameTimestampText(const LogTime& time) {
  return logging::FileNameTimestampText(time);
}

const LoggerInterface& Logger::Interface() {
  static constexpr LoggerInterface kTable = {
      [] { return kLoggerInterfaceVersion; },
      &Acquire,
      &Release,
      &SetGlobalLevel,
      &GlobalLevel,
      &SetSuppressedGroups,
      &SuppressedGroups,
      &Pause,
      &Resume,
      &SetSecondFlag,
      &ClearSecondFlag,
      &AddTarget,
      &RemoveTarget,
      &FindTarget,
      &StdErrTarget,
      &StdOutTarget,
      &DebuggerTarget,
      &GroupMask,
      &GroupNames,
      &RenderLine,
      &LevelName,
      &ExecutableName,
      &CurrentLocalTime,
      &TimestampText,
      &FileNameTimestampText,
      &Log,
  };
  return kTable;
}

}  // namespace logging
