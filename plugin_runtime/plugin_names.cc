#include "plugin_runtime/plugin_names.h"

#include "logging/logger.h"
#include "logging/positional_formatter.h"

namespace plugin_runtime {

const PluginTypeRecord& BackendPluginType() {
  static const PluginTypeRecord record{"backend", ""};
  return record;
}

const PluginTypeRecord& FrontendPluginType() {
  static const PluginTypeRecord record{"frontend", ""};
  return record;
}

std::string FullNameFromShortNameAndType(std::string_view short_name, std::string_view type) {
  if (type == "backend") return "zpk-be-" + std::string(short_name);
  if (type == "frontend") return "zpk-fe-" + std::string(short_name);
  const std::string complaint = logging::FormatPositional(
      "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
      {short_name, type});
  logging::Log(logging::kError, logging::kGroupDbg, "            Plugin Manager| %s",
               complaint.c_str());
  return "zpk-xx-" + std::string(short_name);
}

PluginNames MakePluginNames(std::string_view short_name, const PluginTypeRecord& type) {
  return PluginNames{FullNameFromShortNameAndType(short_name, type.type), std::string(short_name),
                     type.type, type.extra};
}

std::string IdentifierName(std::string_view text, std::string_view prefix) {
  std::string source;
  if (!prefix.empty()) {
    source.reserve(prefix.size() + 1 + text.size());
    source += prefix.front();
    for (char c : prefix.substr(1)) {
      source += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    source += '/';
    source += text;
    text = source;
  }
  std::string identifier;
  identifier.reserve(text.size() + 8);
  bool capitalise = true;
  for (char c : text) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        capitalise = true;
        break;
      case '{':
        identifier += "By";
        capitalise = true;
        break;
      case '}':
        break;
      default:
        if (capitalise && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        capitalise = false;
        identifier += c;
    }
  }
  return identifier;
}

std::vector<std::string> RegistrationTags(std::string_view short_name) {
  return {"Plugins", "Plugin " + std::string(short_name)};
}

}  // namespace plugin_runtime
