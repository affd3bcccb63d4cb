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

}  // namespace ulix_testing
