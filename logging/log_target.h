// The base class of everything a log record can be written to, and the table of plain functions
// through which the logger drives a target. The members that reach the logger (registration and
// line rendering) are defined in target_registration.cc, so this pair stays below the logger.
#ifndef LOGGING_LOG_TARGET_H_
#define LOGGING_LOG_TARGET_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "logging/log_record.h"
#include "platform/recursive_lock.h"

namespace logging {

class LogTarget;

// The operations the logger calls on a registered target, in this order. The logger keeps a
// pointer to each target's table next to the target itself.
struct LogTargetInterface {
  std::int32_t (*interface_version)();
  void (*set_level)(LogTarget* target, std::int32_t level);
  std::int32_t (*get_level)(const LogTarget* target);
  void (*set_groups)(LogTarget* target, std::uint64_t enable, std::uint64_t suppress);
  std::uint64_t (*get_enabled_groups)(const LogTarget* target);
  std::uint64_t (*get_suppressed_groups)(const LogTarget* target);
  const char* (*class_name)(const LogTarget* target);
  std::string (*line_template)(const LogTarget* target);
  void (*attach)(LogTarget* target);
  void (*detach)(LogTarget* target);
  bool (*is_registered)(const LogTarget* target);
  // Writes under the target's lock.
  bool (*write_record)(LogTarget* target, const LogRecord& record);
};

inline constexpr std::int32_t kLogTargetInterfaceVersion = 1;

// A destination for log records with its own filters and line template. The base class writes
// nothing; derived classes override Write. The logger does not own targets: whoever creates one
// adds it (Attach or Logger::AddTarget) and removes it before destroying it when other threads
// may be logging; the destructor also removes a target still registered. All members may be
// called from any thread; settings and writes are guarded by the target's own lock, which the
// logger takes inside its own lock.
class LogTarget {
 public:
  static constexpr const char* kDefaultLineTemplate = "#D| #L| #G| #M";

  LogTarget() = default;
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  virtual ~LogTarget();
  // Unregisters the target from the logger; nothing happens when it is not registered.
  virtual void Detach();
  virtual const char* ClassName() const;
  virtual std::string LineTemplate() const;
  // Writes one record; returns whether it was written. Called under the target's lock.
  virtual bool Write(const LogRecord& record);

  // Records below `level` are not written. Default 1.
  void SetLevel(std::int32_t level);
  std::int32_t Level() const;
  // The enabled groups become `enable` without the bits of `suppress`.
  void SetGroups(std::uint64_t enable, std::uint64_t suppress);
  std::uint64_t EnabledGroups() const;
  std::uint64_t SuppressedGroups() const;
  void SetLineTemplate(std::string line_template);

  // Registers the target with the logger unless it is registered already.
  void Attach();
  bool IsRegistered() const;

  // Whether a record passes this target's level and group filters: a record without groups
  // passes the group filters; otherwise it must share no bit with the suppressed groups and,
  // when the target has enabled groups, at least one bit with them.
  bool Accepts(const LogRecord& record) const;

  // `record` rendered with this target's line template.
  std::string RenderLine(const LogRecord& record) const;

  // The table the logger drives this target through.
  const LogTargetInterface& Interface() const;

 protected:
  platform::RecursiveLock& lock() const { return lock_; }

 private:
  friend class Logger;
  void SetRegistered(bool registered);
  bool WriteLocked(const LogRecord& record);

  // Recursive: Write implementations read the target's own settings.
  mutable platform::RecursiveLock lock_;
  bool registered_ = false;
  // The filter is read for every record by every logging thread: atomics, so that reading it
  // takes no lock. A record that races a change of groups may see one of the pair changed.
  std::atomic<std::int32_t> level_{kWarn};
  std::atomic<std::uint64_t> enabled_groups_{0};
  std::atomic<std::uint64_t> suppressed_groups_{0};
  std::string line_template_ = kDefaultLineTemplate;
};

}  // namespace logging

#endif  // LOGGING_LOG_TARGET_H_
