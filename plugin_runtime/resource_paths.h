// Names derived from resource paths: the event a path's changes are published under, the
// matching of observer patterns, and the names of the host's method codes.
#ifndef PLUGIN_RUNTIME_RESOURCE_PATHS_H_
#define PLUGIN_RUNTIME_RESOURCE_PATHS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace plugin_runtime {

// "OnJsonApiEvent" and the path's non-empty segments joined with "_", cut to 4 pieces (6 when
// the first segment is "kiv-platform-config"): "/plugin-manager/v1/status" gives
// "OnJsonApiEvent_plugin-manager_v1_status", "/ulix-auth/v1/authorization/access-token" gives
// "OnJsonApiEvent_ulix-auth_v1_authorization". Hosts publish one event per resource family, not
// one per leaf, which is why deep paths share a name.
std::string ResourceEventName(std::string_view path);

// True when `path` matches `pattern`: "*" takes path characters up to the next "/" or the end,
// every other character must be equal, and both must end together. "/a/*/c" matches "/a/b/c"
// but not "/a/b/x/c".
bool MatchesResourcePattern(std::string_view pattern, std::string_view path);

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT" for codes 1 to 7; "" otherwise.
std::string_view HostMethodName(std::uint32_t method);

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_RESOURCE_PATHS_H_
