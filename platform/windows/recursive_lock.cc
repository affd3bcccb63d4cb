#include "platform/recursive_lock.h"

#include <windows.h>

#include <new>

namespace platform {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= RecursiveLock::kStorageSize);
static_assert(alignof(CRITICAL_SECTION) <= 16);

CRITICAL_SECTION* Section(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

}  // namespace

// A critical section is recursive by nature: its owner may enter it again. Without debug info
// it allocates nothing, so a lock that is never destroyed (the logger's) leaves nothing behind
// when the library unloads.
RecursiveLock::RecursiveLock() {
  InitializeCriticalSectionEx(new (storage_) CRITICAL_SECTION, 0, CRITICAL_SECTION_NO_DEBUG_INFO);
}

RecursiveLock::~RecursiveLock() { DeleteCriticalSection(Section(storage_)); }

void RecursiveLock::lock() { EnterCriticalSection(Section(storage_)); }

void RecursiveLock::unlock() { LeaveCriticalSection(Section(storage_)); }

bool RecursiveLock::try_lock() { return TryEnterCriticalSection(Section(storage_)) != FALSE; }

}  // namespace platform
