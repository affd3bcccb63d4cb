// The dynamic value every part of the plug-in exchanges with the host and the parsers: a tree of
// empty, bool, signed, unsigned, float, string, blob, enum, collection and structure nodes whose
// strings and payload blocks live in a store owned by the root.
#ifndef BINDING_BINDING_VALUE_H_
#define BINDING_BINDING_VALUE_H_

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/internal/interned_string.h"

namespace binding {

class BindingStaticType;
class BindingValue;
class BindingValueStore;
class BindingStructureEntry;
class BindingFieldMemo;

// The numbering is part of the host-facing contract; the names appear in conversion messages.
enum class BindingValueKind : std::uint8_t {
  kEmpty = 0,
  kBool = 1,
  kSigned = 2,
  kUnsigned = 3,
  kFloat = 4,
  kString = 5,
  kBlob = 6,
  kEnum = 7,
  kCollection = 8,
  kStructure = 9,
};

// "empty", "bool", ..., "structure"; the empty text for a kind above 9.
std::string_view BindingValueKindName(BindingValueKind kind);

// The payload of an enum value: the enumerator's number and the identity of its enum type (may
// be null for a number whose type is unknown).
struct BindingEnumPair {
  std::int32_t value = 0;
  const BindingStaticType* type = nullptr;

  bool operator==(const BindingEnumPair&) const = default;
};

namespace internal {

struct CollectionPayload {
  BindingValue* items;
  std::uint32_t size;
  std::uint32_t capacity;
};

// Entries sorted by key bytes; appending a key greater than the last one costs no search.
struct StructurePayload {
  BindingStructureEntry* entries;
  std::uint32_t size;
  std::uint32_t capacity;
};

}  // namespace internal

// A node of a value tree. A value created on its own is the root of its own tree and owns the
// store (created on first need); children made by elementForWrite, fieldForWrite and
// appendElement share their root's store and must not outlive it. A tree may be used by one
// thread at a time. References to children stay valid until their parent collection or
// structure grows or is cleared.
class BindingValue {
 public:
  BindingValue() = default;
  explicit BindingValue(bool value) { setBool(value); }
  template <std::integral T>
  requires(!std::same_as<T, bool>) explicit BindingValue(T value) {
    if constexpr (std::is_signed_v<T>) {
      setSigned(value);
    } else {
      setUnsigned(value);
    }
  }
  explicit BindingValue(double value) { setFloat(value); }
  explicit BindingValue(std::string_view text) { setString(text); }
  explicit BindingValue(const char* text) { setString(text != nullptr ? text : ""); }
  explicit BindingValue(const std::string& text) { setString(text); }
  explicit BindingValue(std::vector<std::uint8_t> bytes) { setBlob(std::move(bytes)); }

  // Deep copy into a new root; strings are re-interned in the new tree.
  BindingValue(const BindingValue& other);
  // The new value is a root: it takes the source's tree when the source owns it, otherwise it
  // receives a deep copy and the source is cleared.
  BindingValue(BindingValue&& other) noexcept;
  // Deep copy into this value's tree (which may be a child's); the previous content is dropped.
  // Copying a value's own descendant into it is allowed.
  BindingValue& operator=(const BindingValue& other);
  // When both values own their stores they swap payload, store, kind and ownership (the source
  // then holds what this value held); otherwise a deep copy followed by clearing the source.
  BindingValue& operator=(BindingValue&& other) noexcept;
  ~BindingValue();

  // The shared immutable empty value returned by look-ups that find nothing.
  static const BindingValue& emptyValue();

  // ---- Reading ------------------------------------------------------------------------------
  BindingValueKind kind() const { return kind_; }
  bool isEmpty() const { return kind_ == BindingValueKind::kEmpty; }
  bool isCollection() const { return kind_ == BindingValueKind::kCollection; }
  bool isStructure() const { return kind_ == BindingValueKind::kStructure; }

  // Strict getters: the default when the kind differs (no conversion).
  bool getBool(bool default_value = false) const {
    return kind_ == BindingValueKind::kBool ? payload_.boolean : default_value;
  }
  std::int64_t getSigned(std::int64_t default_value = 0) const {
    return kind_ == BindingValueKind::kSigned ? payload_.signed_number : default_value;
  }
  std::uint64_t getUnsigned(std::uint64_t default_value = 0) const {
    return kind_ == BindingValueKind::kUnsigned ? payload_.unsigned_number : default_value;
  }
  double getFloat(double default_value = 0.0) const {
    return kind_ == BindingValueKind::kFloat ? payload_.float_number : default_value;
  }
  // The view's data is NUL-terminated and lives as long as the string stays in this tree.
  std::string_view getString(std::string_view default_value = {}) const {
    return kind_ == BindingValueKind::kString ? payload_.string->view() : default_value;
  }
  // A shared empty vector when the value is not a blob.
  const std::vector<std::uint8_t>& getBlob() const;
  BindingEnumPair getEnum(BindingEnumPair default_value = {}) const {
    return kind_ == BindingValueKind::kEnum ? *payload_.enum_pair : default_value;
  }

  // 0 for empty; bytes of a string or blob; elements of a collection; fields of a structure;
  // 1 otherwise.
  std::size_t size() const;
  // The child at `index`, or emptyValue() when this is not a collection or the index is too big.
  const BindingValue& element(std::size_t index) const;
  // The child under `name`, or emptyValue() when this is not a structure or has no such key.
  const BindingValue& field(std::string_view name) const;
  bool hasField(std::string_view name) const;

  // Walks in order: collection elements, and structure entries in ascending byte order of keys.
  // Both are empty for other kinds.
  std::span<const BindingValue> elements() const;
  std::span<const BindingStructureEntry> fields() const;

  // ---- Coercions ----------------------------------------------------------------------------
  // bool as is; numbers not zero (NaN is true); string exactly "true" or "1"; blob, collection
  // and structure not empty; enum value not zero; empty false.
  bool toBool() const;
  // bool 0/1; signed and unsigned as the 64-bit pattern; float truncated; string by strtoll in
  // base 0 (stops at the first invalid character); enum its value; others `default_value`.
  std::int64_t toInt64(std::int64_t default_value = 0) const;
  // bool "true"/"false"; integers in decimal; float "%f"; string as is; blob base64; enum its
  // value in decimal; empty, collection and structure "".
  std::string toText() const;

  // ---- Writing ------------------------------------------------------------------------------
  // Each setter first clears the previous content.
  void setBool(bool value);
  void setSigned(std::int64_t value);
  void setUnsigned(std::uint64_t value);
  void setFloat(double value);
  // Interns the text in this tree: one copy on first sight, a reference count after that.
  void setString(std::string_view text);
  void setBlob(std::span<const std::uint8_t> bytes);
  void setBlob(std::vector<std::uint8_t>&& bytes);
  void setEnum(std::int32_t value, const BindingStaticType* type);
  void setEnum(BindingEnumPair pair) { setEnum(pair.value, pair.type); }

  // Turns a non-collection into an empty collection (dropping what it held), appends empty values
  // until `index` exists and returns that child.
  BindingValue& elementForWrite(std::size_t index);
  // Turns a non-collection into an empty collection, appends one empty child and returns it.
  BindingValue& appendElement() {
    // Inline for parsers filling a collection with room to spare.
    if (kind_ == BindingValueKind::kCollection &&
        payload_.collection->size < payload_.collection->capacity) {
      return *new (&payload_.collection->items[payload_.collection->size++]) BindingValue(store_);
    }
    return appendElementSlow();
  }
  // Turns a non-structure into an empty structure and returns the child under `name`, creating
  // an empty one when the key is absent. Keys that arrive in ascending order are appended without
  // a search; out-of-order keys cost a binary search and a shift.
  BindingValue& fieldForWrite(std::string_view name);
  // For parsers, which meet a structure's keys in the producer's order: turns a non-structure into
  // an empty structure, then appends an empty child under `name` without looking for the key.
  // Until sortFields() the entries stay in arrival order and may repeat a key, so in between the
  // structure must not be read, copied or written through fieldForWrite or removeField (clearing
  // or destroying it is fine).
  // With `memo` (may be null), a key equal to the one the memo's last structure had at the same
  // place is taken from the memo without hashing it.
  BindingValue& appendFieldUnsorted(std::string_view name, const BindingFieldMemo* memo = nullptr);
  // How sortFields() settles a key that arrived more than once.
  enum class RepeatedKeys : std::uint8_t {
    kKeepLast,          // the last value wins, an empty one included (JSON's null)
    kKeepLastNonEmpty,  // the last value that is not empty wins (MessagePack's nil keeps the old)
  };
  // Puts the entries of a structure filled by appendFieldUnsorted() in key order and keeps one
  // entry per key by `rule`. Structures arriving in key order cost one comparison per entry, and
  // so do those arriving in the order `memo` (may be null) remembers; `memo` then remembers this
  // structure. Does nothing to other kinds.
  void sortFields(RepeatedKeys rule, BindingFieldMemo* memo = nullptr);
  // Removes the entry under `name`; false when this is not a structure or has no such key.
  bool removeField(std::string_view name);
  // Room for `count` elements; turns a non-collection into an empty collection.
  void reserve(std::size_t count);
  // Room for `count` fields; turns a non-structure into an empty structure.
  void reserveFields(std::size_t count);
  // Back to empty, releasing payload blocks and string references.
  void clear();
  // Sizes the string table of this value's tree for about `count` distinct texts: for a reader
  // that can tell from its input's size, so that the table is not rebuilt as it fills.
  void reserveTexts(std::size_t count);

  // The tree's store (null until first needed); for statistics and tests.
  const BindingValueStore* store() const { return store_; }

  // Deep comparison; strings by bytes, enums by value and type, floats by ==.
  bool operator==(const BindingValue& other) const;

 private:
  friend class BindingValueStore;
  friend class BindingStructureEntry;

  union Payload {
    bool boolean;
    std::int64_t signed_number;
    std::uint64_t unsigned_number;
    double float_number;
    internal::InternedString* string;
    std::vector<std::uint8_t>* blob;
    BindingEnumPair* enum_pair;
    internal::CollectionPayload* collection;
    internal::StructurePayload* structure;
  };

  // A child sharing `store`.
  explicit BindingValue(BindingValueStore* store) : store_(store), owns_store_(false) {}

  BindingValueStore* ensureStore();
  BindingValue& appendElementSlow();
  // Inline for the setters' common case, a value that is still empty.
  void releasePayload() {
    if (kind_ != BindingValueKind::kEmpty) releaseHeldPayload();
  }
  void releaseHeldPayload();
  // Teardown of a whole tree: frees only what lives outside the store (blob bytes); the store's
  // pages, large blocks and strings go with the store.
  void releaseOutsideStore();
  void becomeCollection();
  void becomeStructure();
  // Copies `source` into this empty value, interning into this value's store.
  void copyPayloadFrom(const BindingValue& source);
  void swapWith(BindingValue& other) noexcept;

  Payload payload_{.unsigned_number = 0};
  BindingValueStore* store_ = nullptr;
  BindingValueKind kind_ = BindingValueKind::kEmpty;
  bool owns_store_ = true;
};

// One key and value of a structure, in key order.
class BindingStructureEntry {
 public:
  std::string_view key() const { return key_->view(); }
  const BindingValue& value() const { return value_; }
  BindingValue& value() { return value_; }

 private:
  friend class BindingValue;
  internal::InternedString* key_;
  BindingValue value_;
};

// What a parser keeps between structures of one shape, such as the records of an array: the keys
// of the last structure it ordered, in arrival order, and the order that sorted them. One memo
// serves one tree (a memo meeting another tree starts afresh), must not outlive that tree's root
// and holds a reference to each key it remembers.
class BindingFieldMemo {
 public:
  BindingFieldMemo() = default;
  BindingFieldMemo(const BindingFieldMemo&) = delete;
  BindingFieldMemo& operator=(const BindingFieldMemo&) = delete;
  ~BindingFieldMemo() { Forget(); }

  // Larger structures are rare enough to be sorted each time.
  static constexpr std::uint32_t kCapacity = 24;

 private:
  friend class BindingValue;
  void Forget();

  BindingValueStore* store_ = nullptr;
  std::uint32_t size_ = 0;                     // 0: nothing remembered
  internal::InternedString* keys_[kCapacity];  // one reference each
  std::uint32_t order_[kCapacity];             // arrival index of each entry in key order
};

// The result of every conversion: a value and an `ok` flag. A failure replaces the value with the
// structure {"error": message}; conversions test `ok` before each step and never throw.
struct [[nodiscard]] BindingConversionResult {
  BindingValue value;
  std::uint8_t ok = 1;
};

// Clears the result's value, sets `ok` to 0 and stores `message` under "error".
void fail(BindingConversionResult& result, std::string_view message);
// "" when `ok` is 1; otherwise the "error" field's string, or "" when it is not a string.
std::string_view errorText(const BindingConversionResult& result);

}  // namespace binding

#endif  // BINDING_BINDING_VALUE_H_
