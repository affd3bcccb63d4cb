// The members of LogTarget that reach the process-wide logger: registering and unregistering a
// target, and rendering a line with the logger's clock. They live here rather than in
// log_target.cc so that a target's filters and settings do not depend on the logger, which
// depends on targets (it drives them and owns the builtin ones).
#include "logging/log_target.h"
#include "logging/logger.h"

namespace logging {

LogTarget::~LogTarget() {
  // Never leave the logger holding a pointer to a destroyed target.
  if (IsRegistered()) Logger::RemoveTarget(this);
}

void LogTarget::Detach() { Logger::RemoveTarget(this); }

void LogTarget::Attach() {
  if (!IsRegistered()) Logger::AddTarget(this);
}

std::string LogTarget::RenderLine(const LogRecord& record) const {
  return Logger::RenderLine(LineTemplate(), record);
}

}  // namespace logging
