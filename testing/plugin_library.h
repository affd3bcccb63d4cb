// Loads the built plug-in library the way a host does (opens it, then finds the one export) and
// drives one plug-in instance through its entry table.
#ifndef TESTING_PLUGIN_LIBRARY_H_
#define TESTING_PLUGIN_LIBRARY_H_

#include <cstdint>
#include <string>
#include <utility>

#include "plugin_host_interface.h"

namespace ulix_testing {

class PluginLibrary {
 public:
  // Aborts the test program when the library cannot be opened: nothing else can run then.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  LoadUlixAuthFunction load() const { return load_; }

 private:
  void* handle_ = nullptr;
  LoadUlixAuthFunction load_ = nullptr;
};

// One plug-in instance: Load fills the block, then Start, Statistics and Stop go through the
// entry table the plug-in wrote back. The table lives in the plug-in object, so a copy of its
// functions is kept: the statistics stay readable after stop, until the library is closed.
class PluginInstance {
 public:
  explicit PluginInstance(const PluginLibrary& library) : library_(library) {}

  HostInitBlock& Load(std::uint32_t major = 18, std::uint32_t minor = 0, std::uint32_t patch = 0) {
    block_ = HostInitBlock{};
    block_.major = major;
    block_.minor = minor;
    block_.patch = patch;
    library_.load()(&block_);
    if (block_.entryTable != nullptr) entries_ = *block_.entryTable;
    return block_;
  }
  bool Start(const HostContext* host_context) {
    return entries_.start(block_.context, host_context) != 0;
  }
  MemoryStatistics Statistics() const {
    MemoryStatistics statistics;
    entries_.getMemoryStatistics(block_.context, &statistics);
    return statistics;
  }
  void Stop() { entries_.stop(std::exchange(block_.context, nullptr)); }

 private:
  const PluginLibrary& library_;
  HostInitBlock block_{};
  PluginEntryTable entries_{};
};

}  // namespace ulix_testing

#endif  // TESTING_PLUGIN_LIBRARY_H_
