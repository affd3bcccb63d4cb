// One plug-in loaded the way a host loads it: dlopen, the one export, the handshake block, then
// start and stop through the entry table the plug-in wrote back.
#ifndef DEVHOST_PLUGIN_INSTANCE_H_
#define DEVHOST_PLUGIN_INSTANCE_H_

#include <memory>
#include <string>

#include "plugin_host_interface.h"

namespace devhost {

class PluginInstance {
 public:
  // nullptr with `error` set when the library cannot be opened, has no export or refuses the
  // handshake (writes no entry table back).
  static std::unique_ptr<PluginInstance> Load(const std::string& path, std::string& error);
  // Stops the plug-in if it was started and not stopped, then closes the library.
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  // `context` must outlive the plug-in (until Stop returns).
  bool Start(const HostContext* context);
  void Stop();
  MemoryStatistics Statistics() const;

  const TypeCatalogue& catalogue() const { return *block_.catalogue; }
  const char* short_name() const { return block_.shortName != nullptr ? block_.shortName : ""; }

 private:
  PluginInstance() = default;

  void* library_ = nullptr;
  HostInitBlock block_{};
  bool started_ = false;
};

}  // namespace devhost

#endif  // DEVHOST_PLUGIN_INSTANCE_H_
