#include "devhost/plugin_instance.h"

#include <dlfcn.h>

#include <cstdint>
#include <string>

namespace devhost {

std::unique_ptr<PluginInstance> PluginInstance::Load(const std::string& path, std::string& error) {
  std::unique_ptr<PluginInstance> instance(new PluginInstance());
  // The library stays mapped after dlclose: its process-wide singletons (allocator pages, the
  // logging system) live until the process ends, and thread-local destructors it registered
  // on host threads must still find their code.
  instance->library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (instance->library_ == nullptr) {
    const char* message = dlerror();
    error = "cannot open " + path + ": " + (message != nullptr ? message : "unknown error");
    return nullptr;
  }
  auto load =
      reinterpret_cast<LoadUlixAuthFunction>(dlsym(instance->library_, ULIX_AUTH_EXPORT_NAME));
  if (load == nullptr) {
    error = path + " has no " + ULIX_AUTH_EXPORT_NAME;
    return nullptr;
  }
  // The plug-in API version this host offers.
  instance->block_.major = 18;
  instance->block_.minor = 0;
  instance->block_.patch = 0;
  load(&instance->block_);
  if (instance->block_.entryTable == nullptr || instance->block_.catalogue == nullptr) {
    error = path + " did not complete the handshake";
    return nullptr;
  }
  instance->entries_ = *instance->block_.entryTable;
  return instance;
}

PluginInstance::~PluginInstance() {
  Stop();
  if (library_ != nullptr) dlclose(library_);
}

bool PluginInstance::Start(const HostContext* context) {
  const bool started = entries_.start(block_.context, context) != 0;
  // A plug-in that refused to start is stopped all the same: stop is what frees it.
  started_ = true;
  return started;
}

void PluginInstance::Stop() {
  if (!started_) return;
  started_ = false;
  entries_.stop(block_.context);
  block_.context = nullptr;
}

std::string PluginInstance::version() const {
  // Packed fields: copied out before use.
  const std::uint32_t major = block_.major;
  const std::uint32_t minor = block_.minor;
  const std::uint32_t patch = block_.patch;
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

MemoryStatistics PluginInstance::Statistics() const {
  MemoryStatistics statistics{};
  entries_.getMemoryStatistics(block_.context, &statistics);
  return statistics;
}

std::string MemoryAfterStopLine(const MemoryStatistics& statistics) {
  // Packed fields: copied out before use.
  const std::uint64_t allocated = statistics.bytesAllocated;
  const std::uint64_t allocations = statistics.allocationCount;
  const std::uint64_t freed = statistics.bytesFreed;
  const std::uint64_t frees = statistics.freeCount;
  std::string line = "plug-in memory after stop: allocated " + std::to_string(allocated) +
                     " bytes in " + std::to_string(allocations) + " blocks, freed " +
                     std::to_string(freed) + " bytes in " + std::to_string(frees) + " blocks";
  if (allocated != freed || allocations != frees) {
    line += ", not given back: " + std::to_string(allocated - freed) + " bytes in " +
            std::to_string(allocations - frees) + " blocks";
  }
  return line;
}

}  // namespace devhost
