// The identity of one native type: a 32-bit id fixed at build time and its "#%08X" text. Enum
// values carry it, and the registry indexes struct and enum descriptors by its id.
#ifndef BINDING_BINDING_STATIC_TYPE_H_
#define BINDING_BINDING_STATIC_TYPE_H_

#include <cstdint>
#include <string_view>

namespace binding {

// Descriptors carrying this id are registered by name only and never entered in the id index.
inline constexpr std::uint32_t kReservedStaticTypeId = 0x1BE7EF8E;

// FNV-1a over bytes (offset basis 0x811C9DC5, prime 16777619): field and argument name hashes,
// static ids, the intern table of a value tree.
constexpr std::uint32_t Fnv1a(std::string_view bytes) {
  std::uint32_t hash = 0x811C9DC5u;
  for (char c : bytes) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

// Created once per native type on first use and never freed, so a pointer to it is a valid
// identity for the life of the process. Immutable, so any thread may read it.
class BindingStaticType {
 public:
  constexpr explicit BindingStaticType(std::uint32_t id) : id_(id), text_{} {
    constexpr char kDigits[] = "0123456789ABCDEF";
    text_[0] = '#';
    for (int i = 0; i < 8; ++i) text_[1 + i] = kDigits[(id >> (28 - 4 * i)) & 0xF];
    text_[9] = '\0';
  }
  BindingStaticType(const BindingStaticType&) = delete;
  BindingStaticType& operator=(const BindingStaticType&) = delete;

  constexpr std::uint32_t id() const { return id_; }
  // "#" and the id in eight upper-case hexadecimal digits; NUL-terminated.
  constexpr std::string_view text() const { return std::string_view(text_, 9); }

 private:
  std::uint32_t id_;
  char text_[10];
};

}  // namespace binding

#endif  // BINDING_BINDING_STATIC_TYPE_H_
