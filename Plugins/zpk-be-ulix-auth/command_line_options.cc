#include "Plugins/zpk-be-ulix-auth/command_line_options.h"

namespace ulix_auth {
namespace {

std::string Prefixed(std::string_view name) {
  if (name.starts_with("--")) return std::string(name);
  std::string prefixed = "--";
  prefixed += name;
  return prefixed;
}

}  // namespace

bool CommandLineOptions::Flag(std::string_view name) const {
  const std::string wanted = Prefixed(name);
  for (const std::string& argument : arguments_) {
    if (argument == wanted) return true;
  }
  return false;
}

std::optional<std::string> CommandLineOptions::Value(std::string_view name) const {
  std::string wanted = Prefixed(name);
  wanted += '=';
  for (const std::string& argument : arguments_) {
    if (argument.starts_with(wanted)) return argument.substr(wanted.size());
  }
  return std::nullopt;
}

}  // namespace ulix_auth
