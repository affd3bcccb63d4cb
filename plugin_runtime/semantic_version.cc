#include "plugin_runtime/semantic_version.h"

#include "logging/positional_formatter.h"

namespace plugin_runtime {

std::string SemanticVersion::Text() const {
  std::string text = logging::FormatPositional("%1.%2.%3", {major, minor, patch});
  if (!prerelease.empty()) text += "-" + prerelease;
  if (!build.empty()) text += "+" + build;
  return text;
}

const SemanticVersion& PluginApiVersion() {
  static const SemanticVersion version{
      ULIX_VERSION_MAJOR, ULIX_VERSION_MINOR, ULIX_VERSION_PATCH, {}, {}};
  return version;
}

bool IsCompatible(const SemanticVersion& host, const SemanticVersion& plugin) {
  if (host.major != plugin.major) return false;
  if (host.minor != plugin.minor) return host.minor > plugin.minor;
  return host.patch >= plugin.patch;
}

}  // namespace plugin_runtime
