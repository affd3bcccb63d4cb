#include "plugin_runtime/resource_paths.h"

#include <array>

namespace plugin_runtime {
namespace {

constexpr std::string_view kEventPrefix = "OnJsonApiEvent";
constexpr std::string_view kPlatformConfigSegment = "kiv-platform-config";
constexpr std::size_t kUsualPieces = 4;
constexpr std::size_t kPlatformConfigPieces = 6;

}  // namespace

std::string ResourceEventName(std::string_view path) {
  std::string name(kEventPrefix);
  std::size_t pieces = 1;
  std::size_t limit = kUsualPieces;
  bool first_segment = true;
  std::size_t start = 0;
  while (start <= path.size() && pieces < limit) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) continue;
    if (first_segment && segment == kPlatformConfigSegment) limit = kPlatformConfigPieces;
    first_segment = false;
    name += '_';
    name += segment;
    ++pieces;
  }
  return name;
}

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
