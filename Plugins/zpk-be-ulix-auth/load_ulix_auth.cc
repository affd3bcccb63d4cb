// The library's one export: the host calls it once per plug-in instance.
#include <new>

#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"
#include "logging/logger.h"
#include "platform/library_export.h"
#include "plugin_host_interface.h"

extern "C" ULIX_LIBRARY_EXPORT void load_ulix_auth(HostInitBlock* block) {
  if (block == nullptr) return;
  ulix_auth::ULIXAuthPlugin* plugin = nullptr;
  try {
    plugin = new ulix_auth::ULIXAuthPlugin();
    // An incompatible host ends the process inside the handshake; on any other failure the block
    // keeps words 3 to 6 as the host wrote them, which tells the host the load did not happen.
    plugin->handshake(block, ulix_auth::kShortName);
  } catch (...) {
    delete plugin;
    logging::Log(logging::kError, logging::kGroupDbg,
                 "load_ulix_auth: the plug-in could not be loaded");
  }
}
