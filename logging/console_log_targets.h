// The builtin log targets: standard error, standard output and the debugger console. The logger
// creates one of each with its state and owns them.
#ifndef LOGGING_CONSOLE_LOG_TARGETS_H_
#define LOGGING_CONSOLE_LOG_TARGETS_H_

#include <cstdint>
#include <string_view>

#include "logging/log_target.h"

namespace logging {

// A target that renders each record with its line template and hands the line to a console.
class BaseConsoleLogTarget : public LogTarget {
 public:
  const char* ClassName() const override;
  bool Write(const LogRecord& record) override;

 protected:
  // Puts one rendered line, line feed included, on the console. The base has none.
  virtual bool WriteLine(std::string_view line);
};

// Lines on standard error: "#E(#T): #L| #M", enabled groups "DBG", suppressed "GEN".
class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  const char* ClassName() const override;

 protected:
  bool WriteLine(std::string_view line) override;
};

// Lines on standard output: "#M", enabled groups "GEN", suppressed "DBG".
class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  const char* ClassName() const override;

 protected:
  bool WriteLine(std::string_view line) override;
};

// Lines on the debugger's output channel (platform/debugger_output.h): "#E(#T): #L| #M",
// enabled groups "DBG".
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  const char* ClassName() const override;

 protected:
  bool WriteLine(std::string_view line) override;
};

}  // namespace logging

#endif  // LOGGING_CONSOLE_LOG_TARGETS_H_
