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
  // Readable after Stop as well, until the library is closed: the counters are the library's,
  // and the entry table's functions were kept at load (the table itself goes with the plug-in).
  MemoryStatistics Statistics() const;

  const TypeCatalogue& catalogue() const { return *block_.catalogue; }
  const char* short_name() const { return block_.shortName != nullptr ? block_.shortName : ""; }
  // The plug-in's version, which it wrote back in the handshake: "18.0.0".
  std::string version() const;

 private:
  PluginInstance() = default;

  void* library_ = nullptr;
  HostInitBlock block_{};
  PluginEntryTable entries_{};
  bool started_ = false;
};

// The host's log line about a stopped plug-in's memory: what it allocated and freed in total,
// and what it did not give back, if anything.
std::string MemoryAfterStopLine(const MemoryStatistics& statistics);

}  // namespace devhost

#endif  // DEVHOST_PLUGIN_INSTANCE_H_
