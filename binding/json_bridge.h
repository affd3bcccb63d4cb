// JSON text to BindingValue trees and back, and the value walk that feeds any writer.
#ifndef BINDING_JSON_BRIDGE_H_
#define BINDING_JSON_BRIDGE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/binding_value.h"

namespace binding {

class BindingTypeRegistry;

// Arrays and objects nested deeper than this fail: the reader and the tree's destruction recurse
// once per level, and a host thread's stack is not ours to exhaust.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Receives a value tree as a stream of events. Implement it to serialise or inspect a tree
// without knowing its layout; the walk calls the operations in document order.
class BindingValueSink {
 public:
  virtual ~BindingValueSink() = default;

  virtual void Null() = 0;
  virtual void Bool(bool value) = 0;
  virtual void Signed(std::int64_t value) = 0;
  virtual void Unsigned(std::uint64_t value) = 0;
  virtual void Double(double value) = 0;
  // The view lives until the operation returns.
  virtual void String(std::string_view text) = 0;
  virtual void Blob(std::span<const std::uint8_t> bytes) = 0;
  virtual void Enum(BindingEnumPair value) = 0;
  virtual void BeginCollection(std::size_t element_count) = 0;
  virtual void BeforeElement(std::size_t index) = 0;
  virtual void AfterElement(std::size_t index) = 0;
  virtual void EndCollection() = 0;
  virtual void BeginStructure(std::size_t field_count) = 0;
  virtual void Key(std::string_view name) = 0;
  virtual void AfterField() = 0;
  virtual void EndStructure() = 0;
};

// Feeds `value` to `sink`: collections element by element, structures in ascending key order.
void WalkValue(const BindingValue& value, BindingValueSink& sink);

// Parses strict JSON (no comments, trailing commas, NaN or Infinity). Blank text gives the empty
// value with `ok` 1. Integers without fraction or exponent that fit 64 bits become "unsigned", or
// "signed" when written with a minus sign; other numbers become "float". A repeated member name
// keeps the last value. A syntax error fails with "Error: <reason> at offset <byte>.". `text` must
// be NUL-terminated (null counts as blank) and is read up to the NUL; on x86 the reader may load
// the aligned 16-byte block holding the NUL, which never crosses a page. Thread-safe: no shared
// state.
BindingConversionResult parseJson(const char* text);

// parseJson keeping, of a root object, only the members named in `kept_members` (all of them
// when it is empty). The others are read as strictly, so the outcome and any error are those of
// parseJson; only their values are not built. A root that is not an object is kept whole. For a
// reader that wants a few members of a large document.
BindingConversionResult parseJson(const char* text, std::span<const std::string_view> kept_members);

// parseJson of a counted text (which need not be terminated), read up to its first NUL byte if it
// has one, keeping what `kept_members` names. Spares a caller holding a counted text a copy.
BindingConversionResult parseJson(std::string_view text,
                                  std::span<const std::string_view> kept_members = {});

// Writes `value` as JSON. The empty value gives "" (no "null"). An empty `line_ending` gives
// compact output; any other gives one element or member per line, indented by four spaces, lines
// ended by `line_ending`. Blobs are written as standard base64 strings; enums by name when
// `registry` (may be null) knows the value, otherwise as numbers. NaN and infinities, which JSON
// cannot express, are written as null so that the output stays valid JSON.
std::string toJson(const BindingValue& value, const BindingTypeRegistry* registry = nullptr,
                   std::string_view line_ending = {});

}  // namespace binding

#endif  // BINDING_JSON_BRIDGE_H_
