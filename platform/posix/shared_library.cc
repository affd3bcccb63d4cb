#include "platform/shared_library.h"

#include <dlfcn.h>

namespace platform {

OpenedLibrary OpenSharedLibrary(const std::string& path) {
  OpenedLibrary opened;
  opened.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (opened.handle == nullptr) {
    const char* reason = dlerror();
    opened.error = reason != nullptr ? reason : "dlopen failed";
  }
  return opened;
}

void* FindLibraryFunction(void* handle, const char* name) { return dlsym(handle, name); }

void CloseSharedLibrary(void* handle) {
  if (handle != nullptr) dlclose(handle);
}

}  // namespace platform
