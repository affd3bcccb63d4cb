#include "logging/console_log_targets.h"

#include <cstdio>
#include <mutex>

#include "platform/debugger_output.h"
#include "platform/recursive_lock.h"

namespace logging {
namespace {

constexpr const char* kConsoleLineTemplate = "#E(#T): #L| #M";

bool WriteToStream(std::FILE* stream, std::string_view line) {
  return std::fwrite(line.data(), 1, line.size(), stream) == line.size();
}

}  // namespace

const char* BaseConsoleLogTarget::ClassName() const { return "BaseConsoleLogTarget"; }

bool BaseConsoleLogTarget::Write(const LogRecord& record) {
  std::lock_guard<platform::RecursiveLock> hold(lock());
  return WriteLine(RenderLine(record));
}

bool BaseConsoleLogTarget::WriteLine(std::string_view line) { return false; }

StdErrLogTarget::StdErrLogTarget() {
  SetLineTemplate(kConsoleLineTemplate);
  SetGroups(kGroupDbg, kGroupGen);
}

const char* StdErrLogTarget::ClassName() const { return "StdErrLogTarget"; }

bool StdErrLogTarget::WriteLine(std::string_view line) { return WriteToStream(stderr, line); }

StdOutLogTarget::StdOutLogTarget() {
  SetLineTemplate("#M");
  SetGroups(kGroupGen, kGroupDbg);
}

const char* StdOutLogTarget::ClassName() const { return "StdOutLogTarget"; }

bool StdOutLogTarget::WriteLine(std::string_view line) { return WriteToStream(stdout, line); }

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() {
  SetLineTemplate(kConsoleLineTemplate);
  SetGroups(kGroupDbg, 0);
}

const char* DebuggerConsoleLogTarget::ClassName() const { return "DebuggerConsoleLogTarget"; }

bool DebuggerConsoleLogTarget::WriteLine(std::string_view line) {
  platform::WriteDebuggerOutput(line);
  return true;
}

}  // namespace logging
