#include "platform/shared_library.h"

#include <windows.h>

namespace platform {

OpenedLibrary OpenSharedLibrary(const std::string& path) {
  OpenedLibrary opened;
  opened.handle = LoadLibraryA(path.c_str());
  if (opened.handle == nullptr) {
    opened.error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
  }
  return opened;
}

void* FindLibraryFunction(void* handle, const char* name) {
  // GetProcAddress returns a generic function pointer; callers cast it to the real type.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseSharedLibrary(void* handle) {
  if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

}  // namespace platform
