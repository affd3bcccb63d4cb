#include "binding/internal/page_provider.h"

#include "platform/page_reservation.h"

namespace binding::internal {

PageProvider& PageProvider::Instance() {
  // Never destroyed: stores may still give pages back while static objects are torn down.
  static PageProvider* provider = new PageProvider();
  return *provider;
}

void* PageProvider::TakePage() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spare_pages_.empty()) {
    auto* reservation =
        static_cast<std::byte*>(platform::ReservePages(platform::kPageReservationGranularity));
    if (reservation == nullptr) return nullptr;
    constexpr std::size_t kPagesPerReservation = platform::kPageReservationGranularity / kPageBytes;
    reserved_pages_ += kPagesPerReservation;
    // Handed out from the low end first, which keeps a young tree's pages together.
    for (std::size_t i = kPagesPerReservation; i-- > 0;) {
      spare_pages_.push_back(reservation + i * kPageBytes);
    }
  }
  void* page = spare_pages_.back();
  spare_pages_.pop_back();
  return page;
}

void PageProvider::GivePage(void* page) {
  std::lock_guard<std::mutex> lock(mutex_);
  spare_pages_.push_back(page);
}

std::size_t PageProvider::ReservedPageCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reserved_pages_;
}

std::size_t PageProvider::SparePageCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return spare_pages_.size();
}

}  // namespace binding::internal
