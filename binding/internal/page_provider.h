// The process-wide source of the 4096-byte pages that value stores carve small blocks from.
#ifndef BINDING_INTERNAL_PAGE_PROVIDER_H_
#define BINDING_INTERNAL_PAGE_PROVIDER_H_

#include <cstddef>
#include <mutex>

namespace binding::internal {

inline constexpr std::size_t kPageBytes = 4096;

// Pages on their way back to the provider, linked through their first bytes (whatever they held
// is given up with them).
struct PageChain {
  void* first = nullptr;
  void* last = nullptr;
  std::size_t count = 0;

  void Push(void* page) {
    *static_cast<void**>(page) = first;
    first = page;
    if (last == nullptr) last = page;
    ++count;
  }
};

// Reserves address space 64 KiB at a time and hands it out page by page. Pages given back are
// kept for the next store instead of being returned to the system: trees are built and dropped
// at a high rate and the working set stays small. The spare pages hold their own free list, so
// the provider owns no heap memory: a host that unloads the library leaves nothing behind. Any
// thread may call it.
class PageProvider {
 public:
  static PageProvider& Instance();

  // A page aligned to kPageBytes with undefined content, or nullptr when the
  // system refuses more memory.
  void* TakePage();
  void GivePage(void* page);
  // Takes back every page of `pages` at once.
  void GivePages(const PageChain& pages);

  // Figures for tests and statistics.
  std::size_t ReservedPageCount() const;
  std::size_t SparePageCount() const;

 private:
  PageProvider() = default;

  // The first bytes of a spare page point to the next spare page, as in a PageChain.
  mutable std::mutex mutex_;
  void* spare_pages_ = nullptr;
  std::size_t spare_page_count_ = 0;
  std::size_t reserved_pages_ = 0;
};

}  // namespace binding::internal

#endif  // BINDING_INTERNAL_PAGE_PROVIDER_H_
