// Large, aligned blocks of read-write memory taken straight from the system, for allocators that
// carve small blocks out of 64 KiB pages.
#ifndef PLATFORM_PAGE_RESERVATION_H_
#define PLATFORM_PAGE_RESERVATION_H_

#include <cstddef>

namespace platform {

// Granularity and alignment of every reservation.
inline constexpr std::size_t kPageReservationGranularity = 64 * 1024;

// Reserves and commits `bytes` (a multiple of 64 KiB) of read-write memory aligned to 64 KiB;
// nullptr on failure, including a size of 0 or one that is not a multiple of 64 KiB. The memory
// reads as zero. Any thread may call it.
void* ReservePages(std::size_t bytes);

// Gives back a block from ReservePages; `bytes` must be the size it was reserved with. nullptr
// is ignored.
void ReleasePages(void* address, std::size_t bytes);

}  // namespace platform

#endif  // PLATFORM_PAGE_RESERVATION_H_
