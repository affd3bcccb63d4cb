#include "platform/thread_id.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

std::uint64_t CurrentThreadId() {
  // The id never changes for a thread, and the system call is not free.
  thread_local const std::uint64_t id = static_cast<std::uint64_t>(syscall(SYS_gettid));
  return id;
}

}  // namespace platform
