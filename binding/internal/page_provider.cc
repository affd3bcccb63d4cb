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
      void* page = reservation + i * kPageBytes;
      *static_cast<void**>(page) = spare_pages_;
      spare_pages_ = page;
    }
    spare_page_count_ += kPagesPerReservation;
  }
  void* page = spare_pages_;
  spare_pages_ = *static_cast<void**>(page);
  --spare_page_count_;
  return page;
}

void PageProvider::GivePage(void* page) {
  PageChain chain;
  chain.Push(page);
  GivePages(chain);
}

void PageProvider::GivePages(const PageChain& pages) {
  if (pages.count == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  *static_cast<void**>(pages.last) = spare_pages_;
  spare_pages_ = pages.first;
  spare_page_count_ += pages.count;
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
