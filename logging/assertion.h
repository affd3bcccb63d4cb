// Assertion reports and fatal stops: the two ways the plug-in ends the process, each leaving an
// assertion text in the log first.
#ifndef LOGGING_ASSERTION_H_
#define LOGGING_ASSERTION_H_

#include <string>
#include <string_view>

namespace logging {

// Fatal-stop codes.
inline constexpr const char* kFatalUuidCreationFailed = "ALE-8B4DC795";
inline constexpr const char* kFatalPluginApiMismatch = "ALE-EECF0606";

// "Assertion failed!\n\n" followed by the file, line, function, expression and description
// sections of the parts that are present (empty texts and line 0 are left out).
std::string AssertionText(std::string_view expression, std::string_view description,
                          std::string_view file, int line, std::string_view function);

// Logs the assertion text at level " ERROR" in group "DBG". Returns normally.
void ReportAssertion(std::string_view expression, std::string_view description,
                     std::string_view file, int line, std::string_view function);

// Reports an assertion whose expression is `code` (and description `description`, when given),
// then ends the process with abort(). For broken invariants only, never for bad input.
[[noreturn]] void FatalStop(std::string_view code, std::string_view description = {});

}  // namespace logging

#endif  // LOGGING_ASSERTION_H_
