// The matching of observer patterns against resource paths, and the names of the host's method
// codes.
#ifndef PLUGIN_RUNTIME_RESOURCE_PATHS_H_
#define PLUGIN_RUNTIME_RESOURCE_PATHS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace plugin_runtime {

// True when `path` matches `pattern`: "*" takes path characters up to the next "/" or the end,
// every other character must be equal, and both must end together. "/a/*/c" matches "/a/b/c"
// but not "/a/b/x/c".
bool MatchesResourcePattern(std::string_view pattern, std::string_view path);

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT" for codes 1 to 7; "" otherwise.
std::string_view HostMethodName(std::uint32_t method);

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_RESOURCE_PATHS_H_
