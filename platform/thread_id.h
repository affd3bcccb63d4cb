// The operating system's id of the calling thread.
#ifndef PLATFORM_THREAD_ID_H_
#define PLATFORM_THREAD_ID_H_

#include <cstdint>

namespace platform {

// The kernel's id of the calling thread (the one tools such as top, gdb and the Windows task
// manager show); never 0.
std::uint64_t CurrentThreadId();

}  // namespace platform

#endif  // PLATFORM_THREAD_ID_H_
