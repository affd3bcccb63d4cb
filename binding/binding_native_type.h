// Compile-time facts about native C++ types: their NativeTypeKind and their BindingStaticType.
//
// A struct or enum becomes known to the binding layer by naming it next to its declaration, in
// the same namespace:
//
//   struct Credentials { std::string user; std::uint32_t attempts; };
//   ULIX_BINDING_TYPE(Credentials, "Credentials")
//
// The name seeds the type's static id (FNV-1a of the name) unless an id is given explicitly with
// ULIX_BINDING_TYPE_WITH_ID. Built-in types (bool, integers, floating point, std::string,
// std::optional<std::string>, BindingValue, byte vectors, std::vector<T>,
// std::map<std::string, T>) need no declaration.
#ifndef BINDING_BINDING_NATIVE_TYPE_H_
#define BINDING_BINDING_NATIVE_TYPE_H_

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/binding_static_type.h"
#include "binding/binding_type_registry.h"
#include "binding/binding_value.h"

// Declares `Type`'s registered name (and so its static id). Place it in `Type`'s namespace; for a
// nested type use a friend function of the same signature instead.
#define ULIX_BINDING_TYPE(Type, Name) \
  constexpr std::string_view BindingTypeNameOf(const Type*) { return Name; }

// As ULIX_BINDING_TYPE, with a fixed static id instead of the hash of the name.
#define ULIX_BINDING_TYPE_WITH_ID(Type, Name, Id)                            \
  constexpr std::string_view BindingTypeNameOf(const Type*) { return Name; } \
  constexpr std::uint32_t BindingTypeIdOf(const Type*) { return Id; }

namespace binding {
namespace native_type_internal {

template <typename T>
struct VectorTraits : std::false_type {};
template <typename T, typename A>
struct VectorTraits<std::vector<T, A>> : std::true_type {
  using Element = T;
};

template <typename T>
struct StringMapTraits : std::false_type {};
template <typename T, typename C, typename A>
struct StringMapTraits<std::map<std::string, T, C, A>> : std::true_type {
  using Element = T;
};

// The element of a vector or the mapped value of a string map.
template <typename T>
struct ContainerElement {
  using Type = void;
};
template <typename T, typename A>
struct ContainerElement<std::vector<T, A>> {
  using Type = T;
};
template <typename T, typename C, typename A>
struct ContainerElement<std::map<std::string, T, C, A>> {
  using Type = T;
};

constexpr std::uint32_t Fnv1aContinue(std::uint32_t hash, std::string_view bytes) {
  for (char c : bytes) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace native_type_internal

// A struct or enum declared with ULIX_BINDING_TYPE.
template <typename T>
concept NamedBindingType = requires {
  { BindingTypeNameOf(static_cast<const T*>(nullptr)) } -> std::convertible_to<std::string_view>;
};

// A text that may be absent: travels as a string, or as the empty value when absent. Its own
// static type tells it from a plain string; its kind is the string kind.
template <typename T>
concept OptionalText = std::same_as<T, std::optional<std::string>>;

template <typename T>
concept ByteVector = std::same_as<T, std::vector<std::uint8_t>>;

template <typename T>
concept BindingVector = native_type_internal::VectorTraits<T>::value && !ByteVector<T>;

template <typename T>
concept BindingStringMap = native_type_internal::StringMapTraits<T>::value;

// The native kind of T; kNone for a type the binding layer cannot convert.
template <typename T>
constexpr NativeTypeKind NativeKindOf() {
  if constexpr (std::same_as<T, bool>) {
    return NativeTypeKind::kBool;
  } else if constexpr (std::is_enum_v<T>) {
    return NativeTypeKind::kEnum;
  } else if constexpr (std::is_integral_v<T>) {
    constexpr bool kSigned = std::is_signed_v<T>;
    if constexpr (sizeof(T) == 1) return kSigned ? NativeTypeKind::kInt8 : NativeTypeKind::kUInt8;
    if constexpr (sizeof(T) == 2) return kSigned ? NativeTypeKind::kInt16 : NativeTypeKind::kUInt16;
    if constexpr (sizeof(T) == 4) return kSigned ? NativeTypeKind::kInt32 : NativeTypeKind::kUInt32;
    if constexpr (sizeof(T) == 8) return kSigned ? NativeTypeKind::kInt64 : NativeTypeKind::kUInt64;
    return NativeTypeKind::kNone;
  } else if constexpr (std::same_as<T, float>) {
    return NativeTypeKind::kFloat;
  } else if constexpr (std::same_as<T, double>) {
    return NativeTypeKind::kDouble;
  } else if constexpr (std::same_as<T, std::string> || OptionalText<T>) {
    return NativeTypeKind::kString;
  } else if constexpr (std::same_as<T, BindingValue>) {
    return NativeTypeKind::kObject;
  } else if constexpr (ByteVector<T>) {
    return NativeTypeKind::kBlob;
  } else if constexpr (BindingVector<T>) {
    return NativeTypeKind::kVector;
  } else if constexpr (BindingStringMap<T>) {
    return NativeTypeKind::kMap;
  } else if constexpr (NamedBindingType<T> && std::is_class_v<T>) {
    return NativeTypeKind::kStruct;
  } else {
    return NativeTypeKind::kNone;
  }
}

template <typename T>
concept BindingConvertible = NativeKindOf<T>()
!= NativeTypeKind::kNone;

// Feeds T's type name ("int32", "vector<string>", "map<Credentials>", a declared name) into an
// FNV-1a hash.
template <typename T>
constexpr std::uint32_t HashNativeTypeName(std::uint32_t hash) {
  using native_type_internal::Fnv1aContinue;
  constexpr NativeTypeKind kKind = NativeKindOf<T>();
  static_assert(kKind != NativeTypeKind::kNone, "not a type the binding layer can convert");
  if constexpr (kKind == NativeTypeKind::kVector) {
    hash = Fnv1aContinue(hash, "vector<");
    hash = HashNativeTypeName<typename native_type_internal::VectorTraits<T>::Element>(hash);
    return Fnv1aContinue(hash, ">");
  } else if constexpr (kKind == NativeTypeKind::kMap) {
    hash = Fnv1aContinue(hash, "map<");
    hash = HashNativeTypeName<typename native_type_internal::StringMapTraits<T>::Element>(hash);
    return Fnv1aContinue(hash, ">");
  } else if constexpr (OptionalText<T>) {
    return Fnv1aContinue(hash, "optional<string>");
  } else if constexpr (kKind == NativeTypeKind::kEnum || kKind == NativeTypeKind::kStruct) {
    static_assert(NamedBindingType<T>, "declare the type with ULIX_BINDING_TYPE");
    return Fnv1aContinue(hash, BindingTypeNameOf(static_cast<const T*>(nullptr)));
  } else {
    switch (kKind) {
      case NativeTypeKind::kBool:
        return Fnv1aContinue(hash, "bool");
      case NativeTypeKind::kInt8:
        return Fnv1aContinue(hash, "int8");
      case NativeTypeKind::kUInt8:
        return Fnv1aContinue(hash, "uint8");
      case NativeTypeKind::kInt16:
        return Fnv1aContinue(hash, "int16");
      case NativeTypeKind::kUInt16:
        return Fnv1aContinue(hash, "uint16");
      case NativeTypeKind::kInt32:
        return Fnv1aContinue(hash, "int32");
      case NativeTypeKind::kUInt32:
        return Fnv1aContinue(hash, "uint32");
      case NativeTypeKind::kInt64:
        return Fnv1aContinue(hash, "int64");
      case NativeTypeKind::kUInt64:
        return Fnv1aContinue(hash, "uint64");
      case NativeTypeKind::kFloat:
        return Fnv1aContinue(hash, "float");
      case NativeTypeKind::kDouble:
        return Fnv1aContinue(hash, "double");
      case NativeTypeKind::kString:
        return Fnv1aContinue(hash, "string");
      case NativeTypeKind::kObject:
        return Fnv1aContinue(hash, "object");
      default:
        return Fnv1aContinue(hash, "blob");
    }
  }
}

// The static id of T: its declared id, else the FNV-1a hash of its type name. Distinct names give
// distinct ids within a build (checked when the registry indexes them).
template <typename T>
constexpr std::uint32_t StaticTypeIdOf() {
  if constexpr (requires { BindingTypeIdOf(static_cast<const T*>(nullptr)); }) {
    return BindingTypeIdOf(static_cast<const T*>(nullptr));
  } else {
    constexpr std::uint32_t kId = HashNativeTypeName<T>(0x811C9DC5u);
    static_assert(kId != kReservedStaticTypeId, "type name hashes to the reserved id");
    return kId;
  }
}

namespace native_type_internal {
template <typename T>
inline constexpr BindingStaticType kStaticType{StaticTypeIdOf<T>()};
}  // namespace native_type_internal

// T's identity, one object per type for the life of the process.
template <typename T>
const BindingStaticType& BindingStaticTypeOf() {
  return native_type_internal::kStaticType<T>;
}

// The registered name a struct or enum was declared with.
template <NamedBindingType T>
constexpr std::string_view BindingTypeNameFor() {
  return BindingTypeNameOf(static_cast<const T*>(nullptr));
}

// The identifier of T with struct and enum descriptors (of T, or of its element) resolved
// through `registry`; a descriptor not registered yet stays null.
template <typename T>
BindingTypeIdentifier TypeIdentifierOf(const BindingTypeRegistry& registry) {
  constexpr NativeTypeKind kKind = NativeKindOf<T>();
  BindingTypeIdentifier type{kKind, NativeTypeKind::kNone, nullptr};
  if constexpr (kKind == NativeTypeKind::kVector || kKind == NativeTypeKind::kMap) {
    using Element = typename native_type_internal::ContainerElement<T>::Type;
    constexpr NativeTypeKind kElementKind = NativeKindOf<Element>();
    type.elementKind = kElementKind;
    if constexpr (kElementKind == NativeTypeKind::kEnum ||
                  kElementKind == NativeTypeKind::kStruct) {
      type.descriptor = registry.findType(StaticTypeIdOf<Element>());
    }
  } else if constexpr (kKind == NativeTypeKind::kEnum || kKind == NativeTypeKind::kStruct) {
    type.descriptor = registry.findType(StaticTypeIdOf<T>());
  }
  return type;
}

}  // namespace binding

#endif  // BINDING_BINDING_NATIVE_TYPE_H_
