#include "binding/internal/page_provider.h"

#include <new>

#include "platform/page_reservation.h"

namespace binding::internal {

PageProvider& PageProvider::Instance() {
  // Never destroyed: stores may still give pages back while static objects are torn down. Built
  // in static storage rather than on the heap, so that unloading the library leaves nothing.
  alignas(PageProvider) static unsigned char storage[sizeof(PageProvider)];
  static PageProvider* provider = new (storage) PageProvider();
  return *provider;
}

void* PageProvider::TakePage() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spare_pages_ == nullptr) {
    auto* reservation =
        static_cast<std::byte*>(platform::ReservePages(platform::kPageReservationGranularity));
    if (reservation == nullptr) return nullptr;
    constexpr std::size_t kPagesPerReservation = platform::kPageReservationGranularity / kPageBytes;
    reserved_pages_ += kPagesPerReservation;
    // Handed out from the low end first, which keeps a young tree's pages together.
    for (std::size_t i = kPagesPerReservation; i-- > 0;) {
      spare_pages_ = new (reservation + i * kPageBytes) SparePage{spare_pages_};
    }
    spare_page_count_ += kPagesPerReservation;
  }
  SparePage* page = spare_pages_;
  spare_pages_ = page->next;
  --spare_page_count_;
  return page;
}

void PageProvider::GivePage(void* page) {
  std::lock_guard<std::mutex> lock(mutex_);
  spare_pages_ = new (page) SparePage{spare_pages_};
  ++spare_page_count_;
}

std::size_t PageProvider::ReservedPageCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reserved_pages_;
}

std::size_t PageProvider::SparePageCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return spare_page_count_;
}

}  // namespace binding::internal
