#include "binding/binding_value.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "binding/binding_value_store.h"
#include "wire/base64.h"

namespace binding {
namespace {

using internal::CollectionPayload;
using internal::InternedString;
using internal::StructurePayload;

using Blob = std::vector<std::uint8_t>;

// Byte order of the NUL-terminated keys; keys never hold a NUL in practice, so the length breaks
// the tie exactly as the terminator would.
int CompareKeys(std::string_view a, std::string_view b) {
  std::size_t common = std::min(a.size(), b.size());
  int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (order != 0) return order;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool NeedsStore(BindingValueKind kind) {
  return kind >= BindingValueKind::kString && kind <= BindingValueKind::kStructure;
}

}  // namespace

std::string_view BindingValueKindName(BindingValueKind kind) {
  static constexpr std::string_view kNames[] = {"empty",      "bool",     "signed", "unsigned",
                                                "float",      "string",   "blob",   "enum",
                                                "collection", "structure"};
  auto index = static_cast<std::size_t>(kind);
  return index < std::size(kNames) ? kNames[index] : std::string_view();
}

// ---- Life cycle ---------------------------------------------------------------------------------

BindingValue::BindingValue(const BindingValue& other) { copyPayloadFrom(other); }

BindingValue::BindingValue(BindingValue&& other) noexcept {
  if (other.owns_store_) {
    swapWith(other);
  } else {
    copyPayloadFrom(other);
    other.clear();
  }
}

BindingValue& BindingValue::operator=(const BindingValue& other) {
  if (this == &other) return *this;
  if (NeedsStore(other.kind_)) ensureStore();
  // Built aside first: `other` may live inside what this value is about to drop.
  BindingValue copy(store_);
  copy.copyPayloadFrom(other);
  releasePayload();
  payload_ = copy.payload_;
  kind_ = copy.kind_;
  copy.kind_ = BindingValueKind::kEmpty;
  return *this;
}

BindingValue& BindingValue::operator=(BindingValue&& other) noexcept {
  if (this == &other) return *this;
  if (owns_store_ && other.owns_store_) {
    swapWith(other);
    return *this;
  }
  if (NeedsStore(other.kind_)) ensureStore();
  BindingValue copy(store_);
  copy.copyPayloadFrom(other);
  // The source is cleared before this value drops its payload, since it may be a descendant.
  other.clear();
  releasePayload();
  payload_ = copy.payload_;
  kind_ = copy.kind_;
  copy.kind_ = BindingValueKind::kEmpty;
  return *this;
}

BindingValue::~BindingValue() {
  if (owns_store_ && store_ != nullptr) {
    // The whole tree goes with its store: blocks and string references need no bookkeeping, and
    // only blobs hold memory the store does not know of.
    if (store_->HasBlobs()) releaseOutsideStore();
    BindingValueStore::Destroy(store_);
  } else {
    releasePayload();
  }
}

void BindingValue::releaseOutsideStore() {
  switch (kind_) {
    case BindingValueKind::kBlob:
      payload_.blob->~Blob();
      break;
    case BindingValueKind::kCollection: {
      CollectionPayload* collection = payload_.collection;
      for (std::uint32_t i = 0; i < collection->size; ++i) {
        collection->items[i].releaseOutsideStore();
      }
      break;
    }
    case BindingValueKind::kStructure: {
      StructurePayload* structure = payload_.structure;
      for (std::uint32_t i = 0; i < structure->size; ++i) {
        structure->entries[i].value_.releaseOutsideStore();
      }
      break;
    }
    default:
      break;
  }
  kind_ = BindingValueKind::kEmpty;
}

const BindingValue& BindingValue::emptyValue() {
  static const BindingValue empty;
  return empty;
}

void BindingValue::swapWith(BindingValue& other) noexcept {
  std::swap(payload_, other.payload_);
  std::swap(store_, other.store_);
  std::swap(kind_, other.kind_);
  std::swap(owns_store_, other.owns_store_);
}

void BindingValue::reserveTexts(std::size_t count) { ensureStore()->ReserveTexts(count); }

BindingValueStore* BindingValue::ensureStore() {
  // Only a root can lack a store: children are created with their parent's.
  if (store_ == nullptr) store_ = BindingValueStore::Create();
  return store_;
}

void BindingValue::releaseHeldPayload() {
  switch (kind_) {
    case BindingValueKind::kString:
      store_->Release(payload_.string);
      break;
    case BindingValueKind::kBlob:
      payload_.blob->~Blob();
      store_->Free(payload_.blob, sizeof(Blob));
      store_->ForgetBlob();
      break;
    case BindingValueKind::kEnum:
      store_->Free(payload_.enum_pair, sizeof(BindingEnumPair));
      break;
    case BindingValueKind::kCollection: {
      CollectionPayload* collection = payload_.collection;
      for (std::uint32_t i = 0; i < collection->size; ++i) collection->items[i].~BindingValue();
      if (collection->capacity != 0) {
        store_->Free(collection->items, collection->capacity * sizeof(BindingValue));
      }
      store_->Free(collection, sizeof(CollectionPayload));
      break;
    }
    case BindingValueKind::kStructure: {
      StructurePayload* structure = payload_.structure;
      for (std::uint32_t i = 0; i < structure->size; ++i) {
        store_->Release(structure->entries[i].key_);
        structure->entries[i].value_.~BindingValue();
      }
      if (structure->capacity != 0) {
        store_->Free(structure->entries, structure->capacity * sizeof(BindingStructureEntry));
      }
      store_->Free(structure, sizeof(StructurePayload));
      break;
    }
    default:
      break;
  }
  kind_ = BindingValueKind::kEmpty;
}

void BindingValue::clear() { releasePayload(); }

// ---- Reading ------------------------------------------------------------------------------------

const std::vector<std::uint8_t>& BindingValue::getBlob() const {
  static const Blob empty;
  return kind_ == BindingValueKind::kBlob ? *payload_.blob : empty;
}

std::size_t BindingValue::size() const {
  switch (kind_) {
    case BindingValueKind::kEmpty:
      return 0;
    case BindingValueKind::kString:
      return payload_.string->length;
    case BindingValueKind::kBlob:
      return payload_.blob->size();
    case BindingValueKind::kCollection:
      return payload_.collection->size;
    case BindingValueKind::kStructure:
      return payload_.structure->size;
    default:
      return 1;
  }
}

const BindingValue& BindingValue::element(std::size_t index) const {
  if (kind_ != BindingValueKind::kCollection || index >= payload_.collection->size)
    return emptyValue();
  return payload_.collection->items[index];
}

namespace {

// Index of the first entry whose key is not below `name`.
std::uint32_t LowerBound(const StructurePayload& structure, std::string_view name) {
  std::uint32_t low = 0;
  std::uint32_t high = structure.size;
  while (low < high) {
    std::uint32_t middle = low + (high - low) / 2;
    if (CompareKeys(structure.entries[middle].key(), name) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

}  // namespace

const BindingValue& BindingValue::field(std::string_view name) const {
  if (kind_ != BindingValueKind::kStructure) return emptyValue();
  const StructurePayload& structure = *payload_.structure;
  std::uint32_t at = LowerBound(structure, name);
  if (at < structure.size && structure.entries[at].key() == name) {
    return structure.entries[at].value();
  }
  return emptyValue();
}

bool BindingValue::hasField(std::string_view name) const {
  if (kind_ != BindingValueKind::kStructure) return false;
  const StructurePayload& structure = *payload_.structure;
  std::uint32_t at = LowerBound(structure, name);
  return at < structure.size && structure.entries[at].key() == name;
}

std::span<const BindingValue> BindingValue::elements() const {
  if (kind_ != BindingValueKind::kCollection) return {};
  return {payload_.collection->items, payload_.collection->size};
}

std::span<const BindingStructureEntry> BindingValue::fields() const {
  if (kind_ != BindingValueKind::kStructure) return {};
  return {payload_.structure->entries, payload_.structure->size};
}

// ---- Coercions ----------------------------------------------------------------------------------

bool BindingValue::toBool() const {
  switch (kind_) {
    case BindingValueKind::kBool:
      return payload_.boolean;
    case BindingValueKind::kSigned:
      return payload_.signed_number != 0;
    case BindingValueKind::kUnsigned:
      return payload_.unsigned_number != 0;
    case BindingValueKind::kFloat:
      return !(payload_.float_number == 0.0);
    case BindingValueKind::kString: {
      std::string_view text = payload_.string->view();
      return text == "true" || text == "1";
    }
    case BindingValueKind::kBlob:
      return !payload_.blob->empty();
    case BindingValueKind::kEnum:
      return payload_.enum_pair->value != 0;
    case BindingValueKind::kCollection:
      return payload_.collection->size != 0;
    case BindingValueKind::kStructure:
      return payload_.structure->size != 0;
    default:
      return false;
  }
}

std::int64_t BindingValue::toInt64(std::int64_t default_value) const {
  switch (kind_) {
    case BindingValueKind::kBool:
      return payload_.boolean ? 1 : 0;
    case BindingValueKind::kSigned:
      return payload_.signed_number;
    case BindingValueKind::kUnsigned:
      return static_cast<std::int64_t>(payload_.unsigned_number);
    case BindingValueKind::kFloat: {
      // Truncation of a double outside the 64-bit range is undefined; such values saturate.
      double number = payload_.float_number;
      if (number >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
      if (number < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
      return number == number ? static_cast<std::int64_t>(number) : 0;
    }
    case BindingValueKind::kString:
      // Interned texts are NUL-terminated, so strtoll can read them in place.
      return std::strtoll(payload_.string->text, nullptr, 0);
    case BindingValueKind::kEnum:
      return payload_.enum_pair->value;
    default:
      return default_value;
  }
}

std::string BindingValue::toText() const {
  char buffer[400];
  switch (kind_) {
    case BindingValueKind::kBool:
      return payload_.boolean ? "true" : "false";
    case BindingValueKind::kSigned:
      return std::to_string(payload_.signed_number);
    case BindingValueKind::kUnsigned:
      return std::to_string(payload_.unsigned_number);
    case BindingValueKind::kFloat:
      std::snprintf(buffer, sizeof(buffer), "%f", payload_.float_number);
      return buffer;
    case BindingValueKind::kString:
      return std::string(payload_.string->view());
    case BindingValueKind::kBlob:
      return wire::Base64Encode(*payload_.blob);
    case BindingValueKind::kEnum:
      return std::to_string(payload_.enum_pair->value);
    default:
      return std::string();
  }
}

// ---- Writing ------------------------------------------------------------------------------------

void BindingValue::setBool(bool value) {
  releasePayload();
  payload_.boolean = value;
  kind_ = BindingValueKind::kBool;
}

void BindingValue::setSigned(std::int64_t value) {
  releasePayload();
  payload_.signed_number = value;
  kind_ = BindingValueKind::kSigned;
}

void BindingValue::setUnsigned(std::uint64_t value) {
  releasePayload();
  payload_.unsigned_number = value;
  kind_ = BindingValueKind::kUnsigned;
}

void BindingValue::setFloat(double value) {
  releasePayload();
  payload_.float_number = value;
  kind_ = BindingValueKind::kFloat;
}

void BindingValue::setString(std::string_view text) {
  // Interned before the old content goes: the text may be this value's own string.
  InternedString* entry = ensureStore()->Intern(text);
  releasePayload();
  payload_.string = entry;
  kind_ = BindingValueKind::kString;
}

void BindingValue::setBlob(std::span<const std::uint8_t> bytes) {
  setBlob(Blob(bytes.begin(), bytes.end()));
}

void BindingValue::setBlob(std::vector<std::uint8_t>&& bytes) {
  void* memory = ensureStore()->Allocate(sizeof(Blob));
  Blob* blob = new (memory) Blob(std::move(bytes));
  store_->AddBlob();
  releasePayload();
  payload_.blob = blob;
  kind_ = BindingValueKind::kBlob;
}

void BindingValue::setEnum(std::int32_t value, const BindingStaticType* type) {
  void* memory = ensureStore()->Allocate(sizeof(BindingEnumPair));
  auto* pair = new (memory) BindingEnumPair{value, type};
  releasePayload();
  payload_.enum_pair = pair;
  kind_ = BindingValueKind::kEnum;
}

void BindingValue::becomeCollection() {
  releasePayload();
  void* memory = ensureStore()->Allocate(sizeof(CollectionPayload));
  payload_.collection = new (memory) CollectionPayload{nullptr, 0, 0};
  kind_ = BindingValueKind::kCollection;
}

void BindingValue::becomeStructure() {
  releasePayload();
  void* memory = ensureStore()->Allocate(sizeof(StructurePayload));
  payload_.structure = new (memory) StructurePayload{nullptr, 0, 0};
  kind_ = BindingValueKind::kStructure;
}

namespace {

// Values and entries hold no pointers into themselves, so growing an array moves them bytewise.
template <typename Item>
void GrowArray(BindingValueStore& store, Item*& items, std::uint32_t size, std::uint32_t& capacity,
               std::size_t wanted) {
  if (wanted <= capacity) return;
  std::size_t new_capacity = capacity == 0 ? 2 : capacity * std::size_t{2};
  if (new_capacity < wanted) new_capacity = wanted;
  auto* fresh = static_cast<Item*>(store.Allocate(new_capacity * sizeof(Item)));
  if (size != 0) {
    std::memcpy(static_cast<void*>(fresh), static_cast<const void*>(items), size * sizeof(Item));
  }
  if (capacity != 0) store.Free(items, capacity * sizeof(Item));
  items = fresh;
  capacity = static_cast<std::uint32_t>(new_capacity);
}

}  // namespace

void BindingValue::reserve(std::size_t count) {
  if (kind_ != BindingValueKind::kCollection) becomeCollection();
  CollectionPayload& collection = *payload_.collection;
  GrowArray(*store_, collection.items, collection.size, collection.capacity, count);
}

void BindingValue::reserveFields(std::size_t count) {
  if (kind_ != BindingValueKind::kStructure) becomeStructure();
  StructurePayload& structure = *payload_.structure;
  GrowArray(*store_, structure.entries, structure.size, structure.capacity, count);
}

BindingValue& BindingValue::appendElementSlow() {
  if (kind_ != BindingValueKind::kCollection) becomeCollection();
  CollectionPayload& collection = *payload_.collection;
  if (collection.size == collection.capacity) {
    GrowArray(*store_, collection.items, collection.size, collection.capacity,
              collection.size + std::size_t{1});
  }
  return *new (&collection.items[collection.size++]) BindingValue(store_);
}

BindingValue& BindingValue::elementForWrite(std::size_t index) {
  if (kind_ != BindingValueKind::kCollection) becomeCollection();
  CollectionPayload& collection = *payload_.collection;
  if (index >= collection.size) {
    GrowArray(*store_, collection.items, collection.size, collection.capacity, index + 1);
    while (collection.size <= index) {
      new (&collection.items[collection.size++]) BindingValue(store_);
    }
  }
  return collection.items[index];
}

BindingValue& BindingValue::fieldForWrite(std::string_view name) {
  if (kind_ != BindingValueKind::kStructure) becomeStructure();
  StructurePayload& structure = *payload_.structure;
  std::uint32_t at = structure.size;
  // Parsers of sorted input and copies of structures append: one comparison with the last key.
  if (structure.size != 0 && CompareKeys(structure.entries[structure.size - 1].key(), name) >= 0) {
    at = LowerBound(structure, name);
    if (structure.entries[at].key() == name) return structure.entries[at].value_;
  }
  if (structure.size == structure.capacity) {
    GrowArray(*store_, structure.entries, structure.size, structure.capacity,
              structure.size + std::size_t{1});
  }
  BindingStructureEntry* slot = &structure.entries[at];
  if (at < structure.size) {
    std::memmove(static_cast<void*>(slot + 1), static_cast<const void*>(slot),
                 (structure.size - at) * sizeof(BindingStructureEntry));
  }
  ++structure.size;
  slot->key_ = store_->Intern(name);
  new (&slot->value_) BindingValue(store_);
  return slot->value_;
}

namespace {

// Whether `length` bytes at `a` and `b` are equal; keys are short, and a call to memcmp cost more
// than comparing them.
bool SameBytes(const char* a, const char* b, std::size_t length) {
  if (length >= 8) {
    if (length > 16) return std::memcmp(a, b, length) == 0;
    std::uint64_t head_a, head_b, tail_a, tail_b;
    std::memcpy(&head_a, a, 8);
    std::memcpy(&head_b, b, 8);
    std::memcpy(&tail_a, a + length - 8, 8);
    std::memcpy(&tail_b, b + length - 8, 8);
    return ((head_a ^ head_b) | (tail_a ^ tail_b)) == 0;
  }
  if (length >= 4) {
    std::uint32_t head_a, head_b, tail_a, tail_b;
    std::memcpy(&head_a, a, 4);
    std::memcpy(&head_b, b, 4);
    std::memcpy(&tail_a, a + length - 4, 4);
    std::memcpy(&tail_b, b + length - 4, 4);
    return ((head_a ^ head_b) | (tail_a ^ tail_b)) == 0;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

BindingValue& BindingValue::appendFieldUnsorted(std::string_view name,
                                                const BindingFieldMemo* memo) {
  if (kind_ != BindingValueKind::kStructure) becomeStructure();
  StructurePayload& structure = *payload_.structure;
  if (memo != nullptr && memo->store_ != store_) memo = nullptr;
  if (structure.size == structure.capacity) {
    // A structure like the last one will want as many entries.
    std::size_t wanted = structure.size + std::size_t{1};
    if (memo != nullptr && memo->size_ > wanted) wanted = memo->size_;
    GrowArray(*store_, structure.entries, structure.size, structure.capacity, wanted);
  }
  const std::uint32_t index = structure.size;
  BindingStructureEntry* slot = &structure.entries[structure.size++];
  InternedString* predicted = nullptr;
  if (memo != nullptr && index < memo->size_) {
    predicted = memo->keys_[index];
    if (predicted->length != name.size() || !SameBytes(predicted->text, name.data(), name.size())) {
      predicted = nullptr;
    }
  }
  if (predicted != nullptr) {
    store_->AddReference(predicted);
    slot->key_ = predicted;
  } else {
    slot->key_ = store_->Intern(name);
  }
  new (&slot->value_) BindingValue(store_);
  return slot->value_;
}

void BindingFieldMemo::Forget() {
  for (std::uint32_t i = 0; i < size_; ++i) store_->Release(keys_[i]);
  size_ = 0;
}

namespace {

// Byte order of two interned keys of one tree. Equal texts are one entry, so equal pointers are
// the only way two keys compare equal; most keys differ in their first byte.
bool KeyBefore(const InternedString* a, const InternedString* b) {
  if (a == b) return false;
  // Both texts end in a NUL, which orders a key before its extensions.
  const std::size_t compared = std::min(a->length, b->length) + std::size_t{1};
  if (compared >= 8) {
    // The first eight bytes as big-endian words decide most pairs without a call.
    std::uint64_t word_a;
    std::uint64_t word_b;
    std::memcpy(&word_a, a->text, sizeof word_a);
    std::memcpy(&word_b, b->text, sizeof word_b);
    if (word_a != word_b) {
      if constexpr (std::endian::native == std::endian::little) {
        return __builtin_bswap64(word_a) < __builtin_bswap64(word_b);
      } else {
        return word_a < word_b;
      }
    }
  } else {
    const auto first_a = static_cast<unsigned char>(a->text[0]);
    const auto first_b = static_cast<unsigned char>(b->text[0]);
    if (first_a != first_b) return first_a < first_b;
  }
  const int order = std::memcmp(a->text, b->text, compared);
  // Only keys holding a NUL get here equal; the shorter goes first, as in plain byte order.
  return order != 0 ? order < 0 : a->length < b->length;
}

// The first eight bytes of a key as a big-endian number (zeros past its end), so that integer
// order is byte order.
std::uint64_t KeyPrefix(const InternedString* key) {
  std::uint64_t word = 0;
  if (key->length >= 8) {
    std::memcpy(&word, key->text, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
  }
  for (std::uint32_t i = 0; i < key->length; ++i) {
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(key->text[i])) << (56 - 8 * i);
  }
  return word;
}

struct SortKey {
  std::uint64_t prefix;
  const InternedString* key;
  std::uint32_t index;  // arrival order
};

bool SortKeyBefore(const SortKey& a, const SortKey& b) {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  if (a.key == b.key) return a.index < b.index;
  return KeyBefore(a.key, b.key);
}

// Up to this many entries a structure is ordered by insertion on the stack; beyond, through
// std::stable_sort in O(n log n): a body can hold one object with any number of members.
constexpr std::uint32_t kSmallStructure = BindingFieldMemo::kCapacity;

}  // namespace

void BindingValue::sortFields(RepeatedKeys rule, BindingFieldMemo* memo) {
  if (kind_ != BindingValueKind::kStructure) return;
  StructurePayload& structure = *payload_.structure;
  BindingStructureEntry* entries = structure.entries;
  const std::uint32_t size = structure.size;
  if (size < 2) return;
  if (memo != nullptr && memo->store_ != store_) {
    // A memo serves the first tree it meets.
    if (memo->store_ == nullptr) {
      memo->store_ = store_;
    } else {
      memo = nullptr;
    }
  }

  // The arrival index of each entry in key order; ties keep arrival order.
  std::uint32_t small_order[kSmallStructure];
  std::vector<std::uint32_t> large_order;
  std::uint32_t* order = small_order;
  bool remembered = false;
  bool same_keys = false;
  if (memo != nullptr && memo->size_ == size) {
    // The very keys the memo holds, in its arrival order: its order sorts them, and they are
    // distinct, since a memo only remembers structures without repeats.
    std::uint32_t i = 0;
    while (i < size && entries[i].key_ == memo->keys_[i]) ++i;
    same_keys = i == size;
    remembered = same_keys;
    if (!remembered) {
      // Other keys in an order the memo's may still sort.
      const std::uint32_t* known = memo->order_;
      i = 1;
      while (i < size && KeyBefore(entries[known[i - 1]].key_, entries[known[i]].key_)) ++i;
      remembered = i == size;
    }
    if (remembered) order = memo->order_;
  }
  if (!remembered) {
    // Sorted by the first eight key bytes, which decide most pairs with one integer comparison;
    // ties fall back to the whole keys and then to arrival order.
    SortKey small_keys[kSmallStructure];
    std::vector<SortKey> large_keys;
    SortKey* keys = small_keys;
    if (size > kSmallStructure) {
      large_order.resize(size);
      order = large_order.data();
      large_keys.resize(size);
      keys = large_keys.data();
    }
    for (std::uint32_t i = 0; i < size; ++i) {
      keys[i] = SortKey{KeyPrefix(entries[i].key_), entries[i].key_, i};
    }
    if (size <= kSmallStructure) {
      for (std::uint32_t i = 1; i < size; ++i) {
        const SortKey moving = keys[i];
        std::uint32_t at = i;
        for (; at > 0 && SortKeyBefore(moving, keys[at - 1]); --at) keys[at] = keys[at - 1];
        keys[at] = moving;
      }
    } else {
      std::sort(keys, keys + size, SortKeyBefore);
    }
    for (std::uint32_t i = 0; i < size; ++i) order[i] = keys[i].index;
  }

  // Entries hold no pointers into themselves, so they move bytewise.
  std::uint32_t first_moved = 0;
  while (first_moved < size && order[first_moved] == first_moved) ++first_moved;
  if (first_moved < size && size <= kSmallStructure) {
    alignas(
        BindingStructureEntry) unsigned char held[kSmallStructure * sizeof(BindingStructureEntry)];
    auto* moved = reinterpret_cast<BindingStructureEntry*>(held);
    for (std::uint32_t i = first_moved; i < size; ++i) {
      std::memcpy(static_cast<void*>(&moved[i - first_moved]),
                  static_cast<const void*>(&entries[order[i]]), sizeof(BindingStructureEntry));
    }
    std::memcpy(static_cast<void*>(&entries[first_moved]), held,
                (size - first_moved) * sizeof(BindingStructureEntry));
  } else if (first_moved < size) {
    const std::size_t bytes = structure.capacity * sizeof(BindingStructureEntry);
    auto* fresh = static_cast<BindingStructureEntry*>(store_->Allocate(bytes));
    for (std::uint32_t i = 0; i < size; ++i) {
      std::memcpy(static_cast<void*>(&fresh[i]), static_cast<const void*>(&entries[order[i]]),
                  sizeof(BindingStructureEntry));
    }
    store_->Free(entries, bytes);
    structure.entries = entries = fresh;
  }

  if (same_keys) return;
  bool repeated = false;
  for (std::uint32_t i = 1; i < size && !repeated; ++i) {
    repeated = entries[i - 1].key_ == entries[i].key_;
  }
  if (memo != nullptr && !repeated && size <= BindingFieldMemo::kCapacity) {
    if (!remembered) std::memcpy(memo->order_, order, size * sizeof *order);
    memo->Forget();
    memo->size_ = size;
    // The keys in arrival order are those of the sorted entries put back through the order.
    for (std::uint32_t i = 0; i < size; ++i) {
      store_->AddReference(entries[i].key_);
      memo->keys_[order[i]] = entries[i].key_;
    }
  }
  if (!repeated) return;

  // Runs of one key sit together now; keep one entry of each.
  std::uint32_t kept = 0;
  for (std::uint32_t run = 0; run < size;) {
    std::uint32_t end = run + 1;
    while (end < size && entries[end].key_ == entries[run].key_) ++end;
    std::uint32_t keep = end - 1;
    if (rule == RepeatedKeys::kKeepLastNonEmpty) {
      while (keep > run && entries[keep].value_.isEmpty()) --keep;
      if (entries[keep].value_.isEmpty()) keep = end - 1;
    }
    for (std::uint32_t i = run; i < end; ++i) {
      if (i == keep) continue;
      store_->Release(entries[i].key_);
      entries[i].value_.~BindingValue();
    }
    if (kept != keep) {
      std::memcpy(static_cast<void*>(&entries[kept]), static_cast<const void*>(&entries[keep]),
                  sizeof(BindingStructureEntry));
    }
    ++kept;
    run = end;
  }
  structure.size = kept;
}

bool BindingValue::removeField(std::string_view name) {
  if (kind_ != BindingValueKind::kStructure) return false;
  StructurePayload& structure = *payload_.structure;
  std::uint32_t at = LowerBound(structure, name);
  if (at == structure.size || structure.entries[at].key() != name) return false;
  BindingStructureEntry* slot = &structure.entries[at];
  store_->Release(slot->key_);
  slot->value_.~BindingValue();
  std::memmove(static_cast<void*>(slot), static_cast<const void*>(slot + 1),
               (structure.size - at - 1) * sizeof(BindingStructureEntry));
  --structure.size;
  return true;
}

void BindingValue::copyPayloadFrom(const BindingValue& source) {
  switch (source.kind_) {
    case BindingValueKind::kEmpty:
      break;
    case BindingValueKind::kBool:
    case BindingValueKind::kSigned:
    case BindingValueKind::kUnsigned:
    case BindingValueKind::kFloat:
      payload_ = source.payload_;
      kind_ = source.kind_;
      break;
    case BindingValueKind::kString:
      if (source.store_ == store_) {
        store_->AddReference(source.payload_.string);
        payload_.string = source.payload_.string;
      } else {
        payload_.string = ensureStore()->Intern(source.payload_.string->view());
      }
      kind_ = BindingValueKind::kString;
      break;
    case BindingValueKind::kBlob:
      setBlob(std::span<const std::uint8_t>(*source.payload_.blob));
      break;
    case BindingValueKind::kEnum:
      setEnum(*source.payload_.enum_pair);
      break;
    case BindingValueKind::kCollection: {
      const CollectionPayload& from = *source.payload_.collection;
      reserve(from.size);
      CollectionPayload& to = *payload_.collection;
      for (std::uint32_t i = 0; i < from.size; ++i) {
        new (&to.items[to.size++]) BindingValue(store_);
        to.items[i].copyPayloadFrom(from.items[i]);
      }
      break;
    }
    case BindingValueKind::kStructure: {
      const StructurePayload& from = *source.payload_.structure;
      reserveFields(from.size);
      StructurePayload& to = *payload_.structure;
      bool same_store = source.store_ == store_;
      // Already in key order: entries are appended as they come.
      for (std::uint32_t i = 0; i < from.size; ++i) {
        BindingStructureEntry& entry = to.entries[to.size++];
        if (same_store) {
          store_->AddReference(from.entries[i].key_);
          entry.key_ = from.entries[i].key_;
        } else {
          entry.key_ = store_->Intern(from.entries[i].key());
        }
        new (&entry.value_) BindingValue(store_);
        entry.value_.copyPayloadFrom(from.entries[i].value_);
      }
      break;
    }
  }
}

bool BindingValue::operator==(const BindingValue& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case BindingValueKind::kEmpty:
      return true;
    case BindingValueKind::kBool:
      return payload_.boolean == other.payload_.boolean;
    case BindingValueKind::kSigned:
      return payload_.signed_number == other.payload_.signed_number;
    case BindingValueKind::kUnsigned:
      return payload_.unsigned_number == other.payload_.unsigned_number;
    case BindingValueKind::kFloat:
      return payload_.float_number == other.payload_.float_number;
    case BindingValueKind::kString:
      return payload_.string->view() == other.payload_.string->view();
    case BindingValueKind::kBlob:
      return *payload_.blob == *other.payload_.blob;
    case BindingValueKind::kEnum:
      return *payload_.enum_pair == *other.payload_.enum_pair;
    case BindingValueKind::kCollection:
      return std::ranges::equal(elements(), other.elements());
    case BindingValueKind::kStructure:
      return std::ranges::equal(fields(), other.fields(),
                                [](const BindingStructureEntry& a, const BindingStructureEntry& b) {
                                  return a.key() == b.key() && a.value() == b.value();
                                });
  }
  return false;
}

// ---- Results ------------------------------------------------------------------------------------

void fail(BindingConversionResult& result, std::string_view message) {
  // The message may be text of the result's own tree, which clear() releases.
  std::string text(message);
  result.value.clear();
  result.ok = 0;
  result.value.fieldForWrite("error").setString(text);
}

std::string_view errorText(const BindingConversionResult& result) {
  if (result.ok == 1) return {};
  return result.value.field("error").getString();
}

}  // namespace binding
