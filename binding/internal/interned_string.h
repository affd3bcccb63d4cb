// One string of a value tree's intern table: what a string value points at and what the tree's
// store hashes, counts and frees. Its own header so that the store does not depend on the value
// that uses it.
#ifndef BINDING_INTERNAL_INTERNED_STRING_H_
#define BINDING_INTERNAL_INTERNED_STRING_H_

#include <cstdint>
#include <string_view>

namespace binding::internal {

// Values of the tree share it by reference count; the text is NUL-terminated.
struct InternedString {
  InternedString* next;  // bucket chain
  std::uint32_t hash;
  std::uint32_t references;
  std::uint32_t length;
  char text[1];  // `length` bytes and a NUL follow

  std::string_view view() const { return std::string_view(text, length); }
};

}  // namespace binding::internal

#endif  // BINDING_INTERNAL_INTERNED_STRING_H_
