#include "logging/assertion.h"

#include <cstdlib>

#include "logging/logger.h"

namespace logging {

std::string AssertionText(std::string_view expression, std::string_view description,
                          std::string_view file, int line, std::string_view function) {
  std::string text = "Assertion failed!\n\n";
  if (!file.empty()) {
    text += "File: ";
    text += file;
    text += "\n";
  }
  if (line != 0) {
    text += "Line: ";
    text += std::to_string(line);
    text += "\n\n";
  }
  if (!function.empty()) {
    text += "Function: ";
    text += function;
    text += "\n\n";
  }
  if (!expression.empty()) {
    text += "Expression: ";
    text += expression;
  }
  if (!description.empty()) {
    text += "\n\nDescription: ";
    text += description;
  }
  return text;
}

void ReportAssertion(std::string_view expression, std::string_view description,
                     std::string_view file, int line, std::string_view function) {
  std::string text = AssertionText(expression, description, file, line, function);
  Log(kError, kGroupDbg, "%s", text.c_str());
}

void FatalStop(std::string_view code, std::string_view description) {
  ReportAssertion(code, description, {}, 0, {});
  std::abort();
}

}  // namespace logging
