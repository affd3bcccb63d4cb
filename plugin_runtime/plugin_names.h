// The names a plug-in goes by: its short name, the full name derived from its type, the
// identifier form used for type and function names, and the tags on everything it registers.
#ifndef PLUGIN_RUNTIME_PLUGIN_NAMES_H_
#define PLUGIN_RUNTIME_PLUGIN_NAMES_H_

#include <string>
#include <string_view>
#include <vector>

namespace plugin_runtime {

// A plug-in type: a pair of texts. Hosts know "backend" and "frontend".
struct PluginTypeRecord {
  std::string type;
  std::string extra;
};

const PluginTypeRecord& BackendPluginType();
const PluginTypeRecord& FrontendPluginType();

struct PluginNames {
  std::string fullName;
  std::string shortName;
  std::string pluginType;
  std::string extra;
};

// "zpk-be-" + short name for "backend", "zpk-fe-" for "frontend" (both compared exactly);
// any other type gets "zpk-xx-" and an error line in the log.
std::string FullNameFromShortNameAndType(std::string_view short_name, std::string_view type);

PluginNames MakePluginNames(std::string_view short_name, const PluginTypeRecord& type);

// Turns text into an identifier: "!+-./_" are dropped and capitalise the next character, "{"
// becomes "By", "}" is dropped. With a prefix (an HTTP method name) the text converted is the
// prefix's first character, the rest of it lower-cased, "/" and then `text`:
// ("GET", "/ulix-auth/v1/config/{platformId}") gives "GetUlixAuthV1ConfigByPlatformId".
std::string IdentifierName(std::string_view text, std::string_view prefix = {});

// "Plugins" and "Plugin " + short name.
std::vector<std::string> RegistrationTags(std::string_view short_name);

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_PLUGIN_NAMES_H_
