// The name of the event a resource path's changes are published under: the plug-in subscribes
// to it and a host publishes it. Header-only, with no dependency on the runtime.
#ifndef WIRE_RESOURCE_EVENT_NAME_H_
#define WIRE_RESOURCE_EVENT_NAME_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace wire {

// "OnJsonApiEvent" and the path's non-empty segments joined with "_", cut to 4 pieces (6 when
// the first segment is "kiv-platform-config"): "/plugin-manager/v1/status" gives
// "OnJsonApiEvent_plugin-manager_v1_status", "/ulix-auth/v1/authorization/access-token" gives
// "OnJsonApiEvent_ulix-auth_v1_authorization". Hosts publish one event per resource family, not
// one per leaf, which is why deep paths share a name.
inline std::string ResourceEventName(std::string_view path) {
  constexpr std::size_t kUsualPieces = 4;
  constexpr std::size_t kPlatformConfigPieces = 6;
  std::string name = "OnJsonApiEvent";
  std::size_t pieces = 1;
  std::size_t limit = kUsualPieces;
  bool first_segment = true;
  std::size_t start = 0;
  while (start <= path.size() && pieces < limit) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) continue;
    if (first_segment && segment == "kiv-platform-config") limit = kPlatformConfigPieces;
    first_segment = false;
    name += '_';
    name += segment;
    ++pieces;
  }
  return name;
}

}  // namespace wire

#endif  // WIRE_RESOURCE_EVENT_NAME_H_
