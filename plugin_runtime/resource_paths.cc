#include "plugin_runtime/resource_paths.h"

#include <array>

namespace plugin_runtime {

bool MatchesResourcePattern(std::string_view pattern, std::string_view path) {
  std::size_t p = 0;
  std::size_t i = 0;
  while (p < pattern.size()) {
    if (pattern[p] == '*') {
      while (i < path.size() && path[i] != '/') ++i;
      ++p;
      continue;
    }
    if (i >= path.size() || pattern[p] != path[i]) return false;
    ++p;
    ++i;
  }
  return i == path.size();
}

std::string_view HostMethodName(std::uint32_t method) {
  static constexpr std::array<std::string_view, 8> kNames = {"",        "DELETE", "GET",  "HEAD",
                                                             "OPTIONS", "PATCH",  "POST", "PUT"};
  return method < kNames.size() ? kNames[method] : std::string_view();
}

}  // namespace plugin_runtime
