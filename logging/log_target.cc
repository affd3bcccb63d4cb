#include "logging/log_target.h"

#include <utility>

namespace logging {
namespace {

using Hold = std::lock_guard<platform::RecursiveLock>;

}  // namespace

const char* LogTarget::ClassName() const { return "LogTarget"; }

std::string LogTarget::LineTemplate() const {
  Hold hold(lock_);
  return line_template_;
}

bool LogTarget::Write(const LogRecord& record) { return false; }

void LogTarget::SetLevel(std::int32_t level) { level_.store(level, std::memory_order_relaxed); }

std::int32_t LogTarget::Level() const { return level_.load(std::memory_order_relaxed); }

void LogTarget::SetGroups(std::uint64_t enable, std::uint64_t suppress) {
  // Writers take the lock so that two of them cannot interleave their pair of stores.
  Hold hold(lock_);
  enabled_groups_.store(enable & ~suppress, std::memory_order_relaxed);
  suppressed_groups_.store(suppress, std::memory_order_relaxed);
}

std::uint64_t LogTarget::EnabledGroups() const {
  return enabled_groups_.load(std::memory_order_relaxed);
}

std::uint64_t LogTarget::SuppressedGroups() const {
  return suppressed_groups_.load(std::memory_order_relaxed);
}

void LogTarget::SetLineTemplate(std::string line_template) {
  Hold hold(lock_);
  line_template_ = std::move(line_template);
}

bool LogTarget::IsRegistered() const {
  Hold hold(lock_);
  return registered_;
}

bool LogTarget::Accepts(const LogRecord& record) const {
  if (record.level < Level()) return false;
  if (record.groups == 0) return true;
  if ((record.groups & SuppressedGroups()) != 0) return false;
  const std::uint64_t enabled = EnabledGroups();
  return enabled == 0 || (record.groups & enabled) != 0;
}

const LogTargetInterface& LogTarget::Interface() const {
  // Defined in a member so that the entries may reach the private write.
  static constexpr LogTargetInterface kTable = {
      [] { return kLogTargetInterfaceVersion; },
      [](LogTarget* target, std::int32_t level) { target->SetLevel(level); },
      [](const LogTarget* target) { return target->Level(); },
      [](LogTarget* target, std::uint64_t enable, std::uint64_t suppress) {
        target->SetGroups(enable, suppress);
      },
      [](const LogTarget* target) { return target->EnabledGroups(); },
      [](const LogTarget* target) { return target->SuppressedGroups(); },
      [](const LogTarget* target) { return target->ClassName(); },
      [](const LogTarget* target) { return target->LineTemplate(); },
      [](LogTarget* target) { target->Attach(); },
      [](LogTarget* target) { target->Detach(); },
      [](const LogTarget* target) { return target->IsRegistered(); },
      [](LogTarget* target, const LogRecord& record) { return target->WriteLocked(record); },
  };
  return kTable;
}

bool LogTarget::WriteLocked(const LogRecord& record) {
  Hold hold(lock_);
  return Write(record);
}

void LogTarget::SetRegistered(bool registered) {
  Hold hold(lock_);
  registered_ = registered;
}

}  // namespace logging
