#include "testing/plugin_library.h"

#include <cstdio>
#include <cstdlib>

#include "platform/shared_library.h"

namespace ulix_testing {

PluginLibrary::PluginLibrary(const std::string& path) {
  platform::OpenedLibrary opened = platform::OpenSharedLibrary(path);
  handle_ = opened.handle;
  if (handle_ == nullptr) {
    std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), opened.error.c_str());
    std::abort();
  }
  load_ = reinterpret_cast<LoadUlixAuthFunction>(
      platform::FindLibraryFunction(handle_, ULIX_AUTH_EXPORT_NAME));
  if (load_ == nullptr) {
    std::fprintf(stderr, "%s has no %s\n", path.c_str(), ULIX_AUTH_EXPORT_NAME);
    std::abort();
  }
}

PluginLibrary::~PluginLibrary() { platform::CloseSharedLibrary(handle_); }

HostInitBlock& PluginInstance::Load(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  block_ = HostInitBlock{};
  block_.major = major;
  block_.minor = minor;
  block_.patch = patch;
  library_.load()(&block_);
  if (block_.entryTable != nullptr) entries_ = *block_.entryTable;
  return block_;
}

bool PluginInstance::Start(const HostContext* host_context) {
  return block_.entryTable->start(block_.context, host_context) != 0;
}

MemoryStatistics PluginInstance::Statistics() const {
  MemoryStatistics statistics;
  entries_.getMemoryStatistics(block_.context, &statistics);
  return statistics;
}

void PluginInstance::Stop() {
  block_.entryTable->stop(block_.context);
  block_.context = nullptr;
}

}  // namespace ulix_testing
