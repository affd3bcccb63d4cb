// The process-wide source of the 4096-byte pages that value stores carve small blocks from.
#ifndef BINDING_INTERNAL_PAGE_PROVIDER_H_
#define BINDING_INTERNAL_PAGE_PROVIDER_H_

#include <cstddef>
#include <mutex>

namespace binding::internal {

inline constexpr std::size_t kPageBytes = 4096;

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

  // Figures for tests and statistics.
  std::size_t ReservedPageCount() const;
  std::size_t SparePageCount() const;

 private:
  PageProvider() = default;

  // The first bytes of a spare page point to the next spare page.
  struct SparePage {
    SparePage* next;
  };

  mutable std::mutex mutex_;
  SparePage* spare_pages_ = nullptr;
  std::size_t spare_page_count_ = 0;
  std::size_t reserved_pages_ = 0;
};

}  // namespace binding::internal

#endif  // BINDING_INTERNAL_PAGE_PROVIDER_H_
