#include "platform/recursive_lock.h"

#include <mutex>
#include <new>

namespace platform {
namespace {

static_assert(sizeof(std::recursive_mutex) <= RecursiveLock::kStorageSize);
static_assert(alignof(std::recursive_mutex) <= 16);

}  // namespace

RecursiveLock::RecursiveLock() { new (storage_) std::recursive_mutex; }

RecursiveLock::~RecursiveLock() {
  std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->~recursive_mutex();
}

void RecursiveLock::lock() {
  std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->lock();
}

void RecursiveLock::unlock() {
  std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->unlock();
}

bool RecursiveLock::try_lock() {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->try_lock();
}

}  // namespace platform
