// The file name of the program this library runs inside.
#ifndef PLATFORM_EXECUTABLE_NAME_H_
#define PLATFORM_EXECUTABLE_NAME_H_

#include <string>
#include <string_view>

namespace platform {

inline constexpr const char* kUnknownExecutableName = "<unknown>";

// The running program's path after its last separator, or "<unknown>" when the path cannot be
// read.
std::string ExecutableFileName();

// The part of `path` after its last separator (all of it when there is none). The separator is
// "/", and on Windows "\\" too.
std::string FileNameOfPath(std::string_view path);

}  // namespace platform

#endif  // PLATFORM_EXECUTABLE_NAME_H_
