#include "platform/page_reservation.h"

#include <windows.h>

namespace platform {

void* ReservePages(std::size_t bytes) {
  if (bytes == 0 || bytes % kPageReservationGranularity != 0) return nullptr;
  // Windows reserves address space in units of its allocation granularity, 64 KiB, so every
  // reservation starts aligned; committed pages read as zero.
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleasePages(void* address, std::size_t bytes) {
  if (address == nullptr || bytes == 0) return;
  // Releasing takes the whole reservation at once, with a size of 0.
  VirtualFree(address, 0, MEM_RELEASE);
}

}  // namespace platform
