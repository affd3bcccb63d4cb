#include "platform/page_reservation.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

void* ReservePages(std::size_t bytes) {
  if (bytes == 0 || bytes % kPageReservationGranularity != 0) return nullptr;
  // mmap only promises the system page size, so take one granule more than asked and cut the
  // misaligned head and the leftover tail off again.
  std::size_t span = bytes + kPageReservationGranularity;
  if (span < bytes) return nullptr;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto start = reinterpret_cast<std::uintptr_t>(raw);
  std::uintptr_t aligned = (start + kPageReservationGranularity - 1) &
                           ~static_cast<std::uintptr_t>(kPageReservationGranularity - 1);
  std::size_t head = aligned - start;
  std::size_t tail = span - head - bytes;
  if (head != 0) munmap(raw, head);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  return reinterpret_cast<void*>(aligned);
}

void ReleasePages(void* address, std::size_t bytes) {
  if (address == nullptr || bytes == 0) return;
  munmap(address, bytes);
}

}  // namespace platform
