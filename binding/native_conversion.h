// Conversions between native members and BindingValue: produce (native to generic) and assign
// (generic to native), with the messages every failure reports, and toValue/fromValue for whole
// records through the registry.
#ifndef BINDING_NATIVE_CONVERSION_H_
#define BINDING_NATIVE_CONVERSION_H_

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "binding/binding_native_type.h"
#include "binding/binding_type_registry.h"
#include "binding/binding_value.h"

namespace binding {

// ---- Workers shared by every instantiation ------------------------------------------------------
// Each does nothing when `result.ok` is already 0, reports its failure through fail() and, for
// scalar members, writes the zero value on failure.

void FailRequired(BindingConversionResult& result, std::string_view name);
void AssignBool(BindingConversionResult& result, bool& member, const BindingValue& input,
                std::string_view name);
// `type_name` is the member's native name ("int32"), or an enum's registered name.
std::int64_t AssignSignedInteger(BindingConversionResult& result, const BindingValue& input,
                                 std::string_view name, std::int64_t min, std::int64_t max,
                                 std::string_view type_name);
std::uint64_t AssignUnsignedInteger(BindingConversionResult& result, const BindingValue& input,
                                    std::string_view name, std::uint64_t max,
                                    std::string_view type_name);
double AssignFloatingPoint(BindingConversionResult& result, const BindingValue& input,
                           std::string_view name, double min, double max,
                           std::string_view type_name);
void AssignString(BindingConversionResult& result, std::string& member, const BindingValue& input,
                  std::string_view name, const BindingTypeRegistry& registry);
// An empty input makes the text absent; any other input follows the string rules, and a failure
// leaves the text absent.
void AssignOptionalText(BindingConversionResult& result, std::optional<std::string>& member,
                        const BindingValue& input, std::string_view name,
                        const BindingTypeRegistry& registry);
void AssignBlob(BindingConversionResult& result, std::vector<std::uint8_t>& member,
                const BindingValue& input, std::string_view name);
void AssignObject(BindingConversionResult& result, BindingValue& member, const BindingValue& input);
// Writes `member` only on success; a null `descriptor` means the enum is not registered.
void AssignEnumValue(BindingConversionResult& result, std::int32_t& member,
                     const BindingValue& input, std::string_view name,
                     const BindingTypeDescriptor* descriptor);
// `record` points at a struct described by `descriptor` (null when unregistered).
void AssignStruct(BindingConversionResult& result, void* record, const BindingValue& input,
                  std::string_view name, const BindingTypeDescriptor* descriptor,
                  const BindingTypeRegistry& registry);
// False (and nothing changed) unless the input is a collection; fails when `result.ok` is 1.
bool CheckVectorInput(BindingConversionResult& result, const BindingValue& input,
                      std::string_view name);
bool CheckMapInput(BindingConversionResult& result, const BindingValue& input,
                   std::string_view name);
void ProduceStruct(BindingConversionResult& result, BindingValue& target, const void* record,
                   const BindingTypeDescriptor* descriptor, const BindingTypeRegistry& registry);
// The values a field flagged kOmitWhenDefault leaves out: empty, false, 0, 0.0, size 0, enum 0.
bool IsDefaultValue(const BindingValue& value);

// ---- Typed entry points -------------------------------------------------------------------------

// Writes `member` from `input` with `name` as %1 of every message. `hint` is the registered
// descriptor of T (or of its element) when the caller already knows it.
template <BindingConvertible T>
void AssignMember(BindingConversionResult& result, T& member, const BindingValue& input,
                  std::string_view name, const BindingTypeRegistry& registry,
                  const BindingTypeDescriptor* hint = nullptr) {
  constexpr NativeTypeKind kKind = NativeKindOf<T>();
  if constexpr (kKind == NativeTypeKind::kBool) {
    AssignBool(result, member, input, name);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    if (!result.ok) return;
    member = static_cast<T>(AssignSignedInteger(result, input, name, std::numeric_limits<T>::min(),
                                                std::numeric_limits<T>::max(), typeName(kKind)));
  } else if constexpr (std::is_integral_v<T>) {
    if (!result.ok) return;
    member = static_cast<T>(
        AssignUnsignedInteger(result, input, name, std::numeric_limits<T>::max(), typeName(kKind)));
  } else if constexpr (std::is_floating_point_v<T>) {
    if (!result.ok) return;
    member = static_cast<T>(AssignFloatingPoint(result, input, name, -std::numeric_limits<T>::max(),
                                                std::numeric_limits<T>::max(), typeName(kKind)));
  } else if constexpr (OptionalText<T>) {
    AssignOptionalText(result, member, input, name, registry);
  } else if constexpr (kKind == NativeTypeKind::kString) {
    AssignString(result, member, input, name, registry);
  } else if constexpr (kKind == NativeTypeKind::kBlob) {
    AssignBlob(result, member, input, name);
  } else if constexpr (kKind == NativeTypeKind::kObject) {
    AssignObject(result, member, input);
  } else if constexpr (kKind == NativeTypeKind::kEnum) {
    if (hint == nullptr) hint = registry.findType(StaticTypeIdOf<T>());
    auto value = static_cast<std::int32_t>(member);
    AssignEnumValue(result, value, input, name, hint);
    member = static_cast<T>(value);
  } else if constexpr (kKind == NativeTypeKind::kStruct) {
    if (hint == nullptr) hint = registry.findType(StaticTypeIdOf<T>());
    AssignStruct(result, &member, input, name, hint, registry);
  } else if constexpr (kKind == NativeTypeKind::kVector) {
    member.clear();
    if (!CheckVectorInput(result, input, name)) return;
    member.resize(input.size());
    std::span<const BindingValue> elements = input.elements();
    for (std::size_t i = 0; i < elements.size() && result.ok; ++i) {
      // An empty element keeps the default-constructed one.
      if (elements[i].isEmpty()) continue;
      if constexpr (std::is_same_v<typename T::value_type, bool>) {
        bool flag = false;
        AssignMember(result, flag, elements[i], name, registry, hint);
        member[i] = flag;
      } else {
        AssignMember(result, member[i], elements[i], name, registry, hint);
      }
    }
  } else if constexpr (kKind == NativeTypeKind::kMap) {
    member.clear();
    if (!CheckMapInput(result, input, name)) return;
    for (const BindingStructureEntry& entry : input.fields()) {
      if (!result.ok) break;
      auto& slot = member[std::string(entry.key())];
      if (!entry.value().isEmpty()) AssignMember(result, slot, entry.value(), name, registry, hint);
    }
  }
}

// Builds `target`, a value of `result`'s tree (or `result.value` itself), from `member`. After a
// failure `result.value` is {"error": message} and `target` must not be touched again.
template <BindingConvertible T>
void ProduceMember(BindingConversionResult& result, BindingValue& target, const T& member,
                   const BindingTypeRegistry& registry,
                   const BindingTypeDescriptor* hint = nullptr) {
  constexpr NativeTypeKind kKind = NativeKindOf<T>();
  if constexpr (kKind == NativeTypeKind::kBool) {
    target.setBool(member);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    target.setSigned(member);
  } else if constexpr (std::is_integral_v<T>) {
    target.setUnsigned(member);
  } else if constexpr (std::is_floating_point_v<T>) {
    target.setFloat(member);
  } else if constexpr (OptionalText<T>) {
    if (member.has_value()) {
      target.setString(*member);
    } else {
      target.clear();
    }
  } else if constexpr (kKind == NativeTypeKind::kString) {
    target.setString(member);
  } else if constexpr (kKind == NativeTypeKind::kBlob) {
    target.setBlob(std::span<const std::uint8_t>(member));
  } else if constexpr (kKind == NativeTypeKind::kObject) {
    target = member;
  } else if constexpr (kKind == NativeTypeKind::kEnum) {
    target.setEnum(static_cast<std::int32_t>(member), &BindingStaticTypeOf<T>());
  } else if constexpr (kKind == NativeTypeKind::kStruct) {
    if (hint == nullptr) hint = registry.findType(StaticTypeIdOf<T>());
    ProduceStruct(result, target, &member, hint, registry);
  } else if constexpr (kKind == NativeTypeKind::kVector) {
    target.reserve(member.size());
    for (const auto& element : member) {
      if constexpr (std::is_same_v<typename T::value_type, bool>) {
        target.appendElement().setBool(element);
      } else {
        ProduceMember(result, target.appendElement(), element, registry, hint);
        if (!result.ok) return;
      }
    }
  } else if constexpr (kKind == NativeTypeKind::kMap) {
    target.reserveFields(member.size());
    for (const auto& [key, element] : member) {
      ProduceMember(result, target.fieldForWrite(key), element, registry, hint);
      if (!result.ok) return;
    }
  }
}

// The converter of a registered field of type T.
template <BindingConvertible T>
class TypedFieldConverter final : public BindingFieldConverter {
 public:
  void Assign(BindingConversionResult& result, void* member, const BindingValue& input,
              std::string_view name, const BindingTypeIdentifier& type,
              const BindingTypeRegistry& registry) const override {
    AssignMember(result, *static_cast<T*>(member), input, name, registry, type.descriptor);
  }
  void Produce(BindingConversionResult& result, BindingValue& target, const void* member,
               const BindingTypeIdentifier& type,
               const BindingTypeRegistry& registry) const override {
    ProduceMember(result, target, *static_cast<const T*>(member), registry, type.descriptor);
  }
};

// ---- Whole values -------------------------------------------------------------------------------

// Produces the registered struct at `record`: fails with "Couldn't convert native value because
// it's an unregistered structure." when `static_type` has no descriptor.
BindingConversionResult toValue(const void* record, const BindingStaticType& static_type,
                                const BindingTypeRegistry& registry);
// Assigns `value` to the registered struct at `record`; `name` is %1 of the messages. An empty
// value is not a structure.
BindingConversionResult fromValue(const BindingValue& value, void* record,
                                  const BindingStaticType& static_type,
                                  const BindingTypeRegistry& registry, std::string_view name = {});

// Any convertible native value (struct, vector, map, scalar) to a BindingValue.
template <BindingConvertible T>
BindingConversionResult toValue(const T& native, const BindingTypeRegistry& registry) {
  BindingConversionResult result;
  ProduceMember(result, result.value, native, registry);
  return result;
}

// `value` into any convertible native value; a missing (empty) value fails with "A value for
// '%1' is required.", except that an optional text becomes absent and a struct follows the
// struct rules ("... because the input not a structure.").
template <BindingConvertible T>
BindingConversionResult fromValue(const BindingValue& value, T& native,
                                  const BindingTypeRegistry& registry, std::string_view name = {}) {
  BindingConversionResult result;
  if (value.isEmpty() && !OptionalText<T> && NativeKindOf<T>() != NativeTypeKind::kStruct) {
    FailRequired(result, name);
  } else {
    AssignMember(result, native, value, name, registry);
  }
  return result;
}

}  // namespace binding

#endif  // BINDING_NATIVE_CONVERSION_H_
