#include "platform/executable_name.h"

#include <windows.h>

namespace platform {

std::string FileNameOfPath(std::string_view path) {
  // Windows accepts both separators in a path.
  std::size_t slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExecutableFileName() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  // A full buffer holds a cut path, which would give a wrong name.
  if (length == 0 || length >= sizeof(path)) return kUnknownExecutableName;
  std::string name = FileNameOfPath(std::string_view(path, length));
  return name.empty() ? std::string(kUnknownExecutableName) : name;
}

}  // namespace platform
