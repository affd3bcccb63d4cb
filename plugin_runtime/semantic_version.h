// The version value of the plug-in API, as the host reports it and as this runtime implements it.
#ifndef PLUGIN_RUNTIME_SEMANTIC_VERSION_H_
#define PLUGIN_RUNTIME_SEMANTIC_VERSION_H_

#include <cstdint>
#include <string>

namespace plugin_runtime {

struct SemanticVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  std::string prerelease;
  std::string build;

  // "major.minor.patch", then "-prerelease" and "+build" when those are set.
  std::string Text() const;
};

// The plug-in API this runtime implements: the project's version, which the build passes in.
const SemanticVersion& PluginApiVersion();

// A host can load a plug-in when it offers the same major version and at least the plug-in's
// minor.patch.
bool IsCompatible(const SemanticVersion& host, const SemanticVersion& plugin);

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_SEMANTIC_VERSION_H_
