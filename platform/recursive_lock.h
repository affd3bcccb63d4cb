// A lock its owning thread may take again, for the logger and its targets: a target that logs
// while writing re-enters the lock it already holds. A critical section on Windows, a recursive
// mutex elsewhere. It meets the standard's Lockable requirements, so std::lock_guard and
// std::unique_lock hold it.
#ifndef PLATFORM_RECURSIVE_LOCK_H_
#define PLATFORM_RECURSIVE_LOCK_H_

#include <cstddef>

namespace platform {

class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  // Names fixed by Lockable. Any thread; unlock only by the thread that holds the lock, once per
  // lock or successful try_lock.
  void lock();
  void unlock();
  bool try_lock();

  // Room for the system's lock in place, so that this header needs no system header; each
  // implementation checks that its lock fits.
  static constexpr std::size_t kStorageSize = 64;

 private:
  alignas(16) unsigned char storage_[kStorageSize];
};

}  // namespace platform

#endif  // PLATFORM_RECURSIVE_LOCK_H_
