// The sign-on plug-in: the concrete plug-in the library's export creates.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_

#include "plugin_runtime/plugin_base.h"

namespace ulix_auth {

inline constexpr const char* kShortName = "ulix-auth";

class ULIXAuthPlugin : public plugin_runtime::PluginBase {
 public:
  ULIXAuthPlugin() = default;
  ~ULIXAuthPlugin() override;

  void shutdown() override;
  void registerEndpoints() override;
  bool onStart() override;
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_
