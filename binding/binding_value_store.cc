#include "binding/binding_value_store.h"

#include <cstring>
#include <new>

#include "binding/binding_static_type.h"

namespace binding {
namespace {

constexpr std::uint32_t kInitialBucketCount = 8;

// Short texts (keys, enum names) hash with FNV-1a. FNV-1a is a serial multiply chain, one byte
// at a time, and longer texts (URLs, tokens) spent more on their hash than on everything else
// they cost: those are hashed eight bytes at a time. Every byte counts in the hash: texts come
// from request bodies anyone can send, and a hash that skipped some would let many distinct
// texts share a bucket, making interning them quadratic. Equality is always decided by
// comparing every byte.
constexpr std::size_t kFnvHashedLength = 16;
constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;

std::uint64_t LoadWord(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Mixes `bytes` (at least eight of them) into `hash`; a last partial word is read as the final
// eight bytes, overlapping the previous one.
std::uint64_t MixWords(std::uint64_t hash, std::string_view bytes) {
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    hash = (hash ^ LoadWord(bytes.data() + at)) * kMultiplier;
    hash ^= hash >> 29;
  }
  if (at < bytes.size()) {
    hash = (hash ^ LoadWord(bytes.data() + bytes.size() - 8)) * kMultiplier;
    hash ^= hash >> 29;
  }
  return hash;
}

}  // namespace

std::uint32_t InternHash(std::string_view text) {
  if (text.size() <= kFnvHashedLength) return Fnv1a(text);
  const std::uint64_t hash = MixWords(text.size() * kMultiplier, text);
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
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

BindingValueStore::~BindingValueStore() {
  // Strings still referenced here belong to values being torn down with the store; their blocks
  // vanish with the allocator's pages, only the large ones need handing back.
  for (std::uint32_t b = 0; b < bucket_count_; ++b) {
    for (internal::InternedString* entry = buckets_[b]; entry != nullptr;) {
      internal::InternedString* next = entry->next;
      std::size_t bytes = EntryBytes(entry->length);
      if (bytes > internal::kLargestPooledBlock) Free(entry, bytes);
      entry = next;
    }
  }
  Free(buckets_, bucket_count_ * sizeof(internal::InternedString*));
}

internal::InternedString* BindingValueStore::Intern(std::string_view text) {
  std::uint32_t hash = InternHash(text);
  internal::InternedString** bucket = &buckets_[hash & (bucket_count_ - 1)];
  for (internal::InternedString* entry = *bucket; entry != nullptr; entry = entry->next) {
    if (entry->hash == hash && entry->length == text.size() &&
        std::memcmp(entry->text, text.data(), text.size()) == 0) {
      ++entry->references;
      return entry;
    }
  }
  void* memory = Allocate(EntryBytes(text.size()));
  auto* entry = new (memory) internal::InternedString;
  entry->hash = hash;
  entry->references = 1;
  entry->length = static_cast<std::uint32_t>(text.size());
  char* chars = static_cast<char*>(memory) + offsetof(internal::InternedString, text);
  if (!text.empty()) std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  entry->next = *bucket;
  *bucket = entry;
  if (++interned_count_ > bucket_count_) Grow();
  return entry;
}

void BindingValueStore::Release(internal::InternedString* entry) {
  if (--entry->references != 0) return;
  internal::InternedString** link = &buckets_[entry->hash & (bucket_count_ - 1)];
  while (*link != entry) link = &(*link)->next;
  *link = entry->next;
  --interned_count_;
  Free(entry, EntryBytes(entry->length));
}

std::uint32_t BindingValueStore::ReferenceCount(std::string_view text) const {
  std::uint32_t hash = InternHash(text);
  for (internal::InternedString* entry = buckets_[hash & (bucket_count_ - 1)]; entry != nullptr;
       entry = entry->next) {
    if (entry->hash == hash && entry->view() == text) return entry->references;
  }
  return 0;
}

void BindingValueStore::Grow() {
  std::uint32_t new_count = bucket_count_ * 2;
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
