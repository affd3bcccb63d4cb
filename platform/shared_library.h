// Opening a shared library (a .so, or a DLL on Windows) and finding a function in it, the way a
// plug-in host loads a plug-in.
#ifndef PLATFORM_SHARED_LIBRARY_H_
#define PLATFORM_SHARED_LIBRARY_H_

#include <string>

namespace platform {

struct OpenedLibrary {
  void* handle = nullptr;  // nullptr: the library could not be opened
  std::string error;       // the system's reason when it could not
};

// Opens the library at `path` with every symbol bound at once and none made visible to
// libraries opened later. Close it with CloseSharedLibrary. Any thread.
OpenedLibrary OpenSharedLibrary(const std::string& path);

// The address of the function `name` in an opened library, or nullptr when it has none.
void* FindLibraryFunction(void* handle, const char* name);

// nullptr is ignored.
void CloseSharedLibrary(void* handle);

}  // namespace platform

#endif  // PLATFORM_SHARED_LIBRARY_H_
