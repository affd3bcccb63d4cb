#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

namespace ulix_auth {

// The plug-in's working objects (client, configuration sources, last error, user-info resource)
// are released here in reverse order of creation as they arrive.
ULIXAuthPlugin::~ULIXAuthPlugin() = default;

void ULIXAuthPlugin::shutdown() { plugin_runtime::PluginBase::shutdown(); }

// The sign-on record types and endpoints are registered here.
void ULIXAuthPlugin::registerEndpoints() {}

bool ULIXAuthPlugin::onStart() { return true; }

}  // namespace ulix_auth
