#include "binding/binding_value_store.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "binding/binding_static_type.h"

namespace binding {
namespace {

constexpr std::uint32_t kInitialBucketCount = 8;

// Texts are hashed a machine word at a time: FNV-1a, a serial multiply chain one byte at a time,
// cost more than everything else a parsed key or short text costs, and longer texts (URLs,
// tokens) spent more on their hash than on the rest of their parse. Every byte counts in the
// hash: texts come from request bodies anyone can send, and a hash that skipped some would let
// many distinct texts share a bucket, making interning them quadratic. Equality is always decided
// by comparing every byte.
constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;

std::uint64_t LoadWord(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::uint64_t LoadHalfWord(const char* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::uint64_t Mix(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ word) * kMultiplier;
  return hash ^ (hash >> 29);
}

// Mixes `bytes` (at least eight of them) into `hash`; a last partial word is read as the final
// eight bytes, overlapping the previous one. Long texts go through four independent lanes, 32
// bytes a step, so that the multiplies overlap instead of waiting on one another.
std::uint64_t MixWords(std::uint64_t hash, std::string_view bytes) {
  std::size_t at = 0;
  if (bytes.size() >= 64) {
    std::uint64_t lanes[4] = {hash, hash ^ 1, hash ^ 2, hash ^ 3};
    for (; at + 32 <= bytes.size(); at += 32) {
      for (int lane = 0; lane < 4; ++lane) {
        lanes[lane] = Mix(lanes[lane], LoadWord(bytes.data() + at + 8 * lane));
      }
    }
    hash = Mix(Mix(Mix(Mix(hash, lanes[0]), lanes[1]), lanes[2]), lanes[3]);
  }
  for (; at + 8 <= bytes.size(); at += 8) hash = Mix(hash, LoadWord(bytes.data() + at));
  if (at < bytes.size()) hash = Mix(hash, LoadWord(bytes.data() + bytes.size() - 8));
  return hash;
}

}  // namespace

std::uint32_t InternHash(std::string_view text) {
  const char* bytes = text.data();
  const std::size_t length = text.size();
  std::uint64_t hash = (length + 1) * kMultiplier;
  if (length >= 8) {
    hash = MixWords(hash, text);
  } else if (length >= 4) {
    // Two overlapping halves cover all four to seven bytes.
    hash = Mix(hash, LoadHalfWord(bytes) | LoadHalfWord(bytes + length - 4) << 32);
  } else if (length != 0) {
    // First, middle and last cover one to three bytes.
    hash = Mix(hash,
               static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[0])) |
                   static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[length / 2])) << 8 |
                   static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[length - 1])) << 16);
  }
  hash *= kMultiplier;
  return static_cast<std::uint32_t>(hash >> 32);
}

namespace {

std::size_t EntryBytes(std::size_t length) {
  std::size_t bytes = offsetof(internal::InternedString, text) + length + 1;
  constexpr std::size_t kAlign = alignof(internal::InternedString);
  return (bytes + kAlign - 1) & ~(kAlign - 1);
}

}  // namespace

BindingValueStore::BindingValueStore() {
  bucket_count_ = kInitialBucketCount;
  buckets_ = static_cast<internal::InternedString**>(
      Allocate(bucket_count_ * sizeof(internal::InternedString*)));
  std::memset(buckets_, 0, bucket_count_ * sizeof(internal::InternedString*));
}

BindingValueStore* BindingValueStore::Create() {
  static_assert(sizeof(BindingValueStore) <= internal::kPageBytes);
  void* page = internal::PageProvider::Instance().TakePage();
  // Out of address space: the same failure as the general heap's (see the header).
  if (page == nullptr) throw std::bad_alloc();
  return new (page) BindingValueStore();
}

void BindingValueStore::Destroy(BindingValueStore* store) {
  internal::PageChain pages = store->small_blocks_.DetachPages();
  store->~BindingValueStore();
  pages.Push(store);
  internal::PageProvider::Instance().GivePages(pages);
}

BindingValueStore::~BindingValueStore() {
  // Strings and payloads still held belong to values being torn down with the store: small blocks
  // vanish with the allocator's pages, large ones are handed back here.
  for (LargeBlock* block = large_blocks_; block != nullptr;) {
    LargeBlock* next = block->next;
    ::operator delete(block);
    block = next;
  }
}

void* BindingValueStore::AllocateLarge(std::size_t bytes) {
  auto* block = static_cast<LargeBlock*>(::operator new(sizeof(LargeBlock) + bytes));
  block->previous = nullptr;
  block->next = large_blocks_;
  if (large_blocks_ != nullptr) large_blocks_->previous = block;
  large_blocks_ = block;
  return block + 1;
}

void BindingValueStore::FreeLarge(void* memory) {
  LargeBlock* block = static_cast<LargeBlock*>(memory) - 1;
  if (block->previous != nullptr) {
    block->previous->next = block->next;
  } else {
    large_blocks_ = block->next;
  }
  if (block->next != nullptr) block->next->previous = block->previous;
  ::operator delete(block);
}

internal::InternedString* BindingValueStore::Intern(std::string_view text) {
  if (IsUnhashed(text.size())) {
    for (internal::InternedString* entry = unhashed_; entry != nullptr; entry = entry->next) {
      if (entry->length == text.size() && std::memcmp(entry->text, text.data(), text.size()) == 0) {
        ++entry->references;
        return entry;
      }
    }
    if (unhashed_count_ < kMaxUnhashed) {
      internal::InternedString* entry = NewEntry(text, 0);
      entry->next = unhashed_;
      unhashed_ = entry;
      ++unhashed_count_;
      ++interned_count_;
      return entry;
    }
    // Many long texts: from now on they go through the table like the rest, so that a body full
    // of them is not compared with every one it holds.
    hash_long_texts_ = true;
    for (internal::InternedString* entry = unhashed_; entry != nullptr;) {
      internal::InternedString* next = entry->next;
      entry->hash = InternHash(entry->view());
      internal::InternedString** bucket = &buckets_[entry->hash & (bucket_count_ - 1)];
      entry->next = *bucket;
      *bucket = entry;
      entry = next;
    }
    unhashed_ = nullptr;
    unhashed_count_ = 0;
  }
  std::uint32_t hash = InternHash(text);
  internal::InternedString** bucket = &buckets_[hash & (bucket_count_ - 1)];
  for (internal::InternedString* entry = *bucket; entry != nullptr; entry = entry->next) {
    if (entry->hash == hash && entry->length == text.size() &&
        std::memcmp(entry->text, text.data(), text.size()) == 0) {
      ++entry->references;
      return entry;
    }
  }
  internal::InternedString* entry = NewEntry(text, hash);
  entry->next = *bucket;
  *bucket = entry;
  if (++interned_count_ > bucket_count_) Grow();
  return entry;
}

internal::InternedString* BindingValueStore::NewEntry(std::string_view text, std::uint32_t hash) {
  void* memory = Allocate(EntryBytes(text.size()));
  auto* entry = new (memory) internal::InternedString;
  entry->hash = hash;
  entry->references = 1;
  entry->length = static_cast<std::uint32_t>(text.size());
  char* chars = static_cast<char*>(memory) + offsetof(internal::InternedString, text);
  if (!text.empty()) std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  return entry;
}

void BindingValueStore::Release(internal::InternedString* entry) {
  if (--entry->references != 0) return;
  internal::InternedString** link;
  if (IsUnhashed(entry->length)) {
    link = &unhashed_;
    --unhashed_count_;
  } else {
    link = &buckets_[entry->hash & (bucket_count_ - 1)];
  }
  while (*link != entry) link = &(*link)->next;
  *link = entry->next;
  --interned_count_;
  Free(entry, EntryBytes(entry->length));
}

std::uint32_t BindingValueStore::ReferenceCount(std::string_view text) const {
  if (IsUnhashed(text.size())) {
    for (internal::InternedString* entry = unhashed_; entry != nullptr; entry = entry->next) {
      if (entry->view() == text) return entry->references;
    }
    return 0;
  }
  std::uint32_t hash = InternHash(text);
  for (internal::InternedString* entry = buckets_[hash & (bucket_count_ - 1)]; entry != nullptr;
       entry = entry->next) {
    if (entry->hash == hash && entry->view() == text) return entry->references;
  }
  return 0;
}

void BindingValueStore::ReserveTexts(std::size_t count) {
  if (count <= bucket_count_) return;
  Rehash(std::bit_ceil(static_cast<std::uint32_t>(std::min<std::size_t>(count, 1u << 30))));
}

void BindingValueStore::Rehash(std::uint32_t new_count) {
  auto** new_buckets = static_cast<internal::InternedString**>(
      Allocate(new_count * sizeof(internal::InternedString*)));
  std::memset(new_buckets, 0, new_count * sizeof(internal::InternedString*));
  for (std::uint32_t b = 0; b < bucket_count_; ++b) {
    for (internal::InternedString* entry = buckets_[b]; entry != nullptr;) {
      internal::InternedString* next = entry->next;
      internal::InternedString** target = &new_buckets[entry->hash & (new_count - 1)];
      entry->next = *target;
      *target = entry;
      entry = next;
    }
  }
  Free(buckets_, bucket_count_ * sizeof(internal::InternedString*));
  buckets_ = new_buckets;
  bucket_count_ = new_count;
}

}  // namespace binding
