// The host's command-line arguments read as "--name" flags and "--name=value" options.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_COMMAND_LINE_OPTIONS_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_COMMAND_LINE_OPTIONS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ulix_auth {

// A copy of the arguments; lookups are linear, which suits the handful read once at start.
// An option name is looked up with "--" put in front of it unless it already begins with "--".
class CommandLineOptions {
 public:
  explicit CommandLineOptions(std::vector<std::string> arguments)
      : arguments_(std::move(arguments)) {}

  // True when one argument is exactly the prefixed name: "--x=1" does not set the flag "x", so
  // a flag cannot be switched off by giving it a value.
  bool Flag(std::string_view name) const;
  // The rest of the first argument that begins with the prefixed name and "="; possibly empty.
  // Absent when no argument begins so.
  std::optional<std::string> Value(std::string_view name) const;

 private:
  std::vector<std::string> arguments_;
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_COMMAND_LINE_OPTIONS_H_
