// The per-tree store behind BindingValue: the intern table of the tree's strings and the
// small-block allocator its payload blocks come from.
#ifndef BINDING_BINDING_VALUE_STORE_H_
#define BINDING_BINDING_VALUE_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/internal/interned_string.h"
#include "binding/internal/small_block_allocator.h"

namespace binding {

// The hash the intern table keys a text by, eight bytes at a time; every byte and the length
// count.
std::uint32_t InternHash(std::string_view text);

// Created by a root value on first need and destroyed with it (or handed over by a swap-move).
// Not thread-safe: a tree is used by one thread at a time.
//
// Out of memory is one policy across the plug-in: like operator new, the store and its
// allocator throw std::bad_alloc, and every function the host calls turns it into an error
// answer (a request's is "Internal server error", 500) instead of stopping the host's process.
class BindingValueStore {
 public:
  BindingValueStore();
  BindingValueStore(const BindingValueStore&) = delete;
  BindingValueStore& operator=(const BindingValueStore&) = delete;
  ~BindingValueStore();

  // A store of its own page from the PageProvider, as roots make them: cheaper than the general
  // heap for an object of a few KB, and Destroy hands that page back with the allocator's pages
  // in one step.
  static BindingValueStore* Create();
  static void Destroy(BindingValueStore* store);

  // The entry for `text` with one more reference; created with one reference when absent.
  internal::InternedString* Intern(std::string_view text);
  void AddReference(internal::InternedString* entry) { ++entry->references; }
  // Drops one reference; the entry is removed when none is left.
  void Release(internal::InternedString* entry);
  // Sizes the table for about `count` texts at once, sparing the doublings on the way there.
  void ReserveTexts(std::size_t count);

  // How many distinct texts are interned, and how many references one of them has (0 when it is
  // not interned): what a tree's interning and release can be checked by.
  std::size_t InternedCount() const { return interned_count_; }
  // 0 when the text is not interned.
  std::uint32_t ReferenceCount(std::string_view text) const;

  // Blocks of up to internal::kLargestPooledBlock bytes come from the size classes, larger ones
  // from the heap; the store frees whatever is left of both when it goes, so a tree's teardown
  // need not visit its values. `bytes` must be the same at Free as at Allocate.
  void* Allocate(std::size_t bytes) {
    return bytes <= internal::kLargestPooledBlock ? small_blocks_.Allocate(bytes)
                                                  : AllocateLarge(bytes);
  }
  void Free(void* block, std::size_t bytes) {
    if (bytes <= internal::kLargestPooledBlock) {
      small_blocks_.Free(block, bytes);
    } else {
      FreeLarge(block);
    }
  }

  // Blob values hold bytes outside the store, which a tree's teardown must visit to free.
  void AddBlob() { ++blob_count_; }
  void ForgetBlob() { --blob_count_; }
  bool HasBlobs() const { return blob_count_ != 0; }

 private:
  // Heads each heap block, linking the blocks still held.
  struct alignas(16) LargeBlock {
    LargeBlock* previous;
    LargeBlock* next;
  };

  // The first few long texts of a tree (tokens, mostly) are kept in a short list and found by
  // comparing bytes: hashing them cost more than a comparison that usually stops within the
  // first bytes. Past kMaxUnhashed of them, they all move to the table.
  static constexpr std::size_t kUnhashedLength = 256;
  static constexpr std::uint32_t kMaxUnhashed = 8;

  bool IsUnhashed(std::size_t length) const {
    return length >= kUnhashedLength && !hash_long_texts_;
  }
  internal::InternedString* NewEntry(std::string_view text, std::uint32_t hash);
  void Grow() { Rehash(bucket_count_ * 2); }
  void Rehash(std::uint32_t new_count);
  void* AllocateLarge(std::size_t bytes);
  void FreeLarge(void* block);

  internal::SmallBlockAllocator small_blocks_;
  LargeBlock* large_blocks_ = nullptr;
  std::size_t blob_count_ = 0;
  internal::InternedString** buckets_ = nullptr;
  std::uint32_t bucket_count_ = 0;
  std::uint32_t interned_count_ = 0;  // in the table and in the list
  internal::InternedString* unhashed_ = nullptr;
  std::uint32_t unhashed_count_ = 0;
  bool hash_long_texts_ = false;
};

}  // namespace binding

#endif  // BINDING_BINDING_VALUE_STORE_H_
