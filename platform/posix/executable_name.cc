#include "platform/executable_name.h"

#include <limits.h>
#include <unistd.h>

#include <string_view>

namespace platform {

std::string FileNameOfPath(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExecutableFileName() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
  // A full buffer may hold a cut path, which would give a wrong name.
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(path)) {
    return kUnknownExecutableName;
  }
  std::string name = FileNameOfPath(std::string_view(path, static_cast<std::size_t>(length)));
  return name.empty() ? std::string(kUnknownExecutableName) : name;
}

}  // namespace platform
