// Typed registration of native structs and enums: member kinds, offsets and converters are
// deduced from member pointers.
//
//   struct Credentials {
//     std::string user;
//     std::uint32_t attempts = 0;
//     std::optional<std::string> token;
//   };
//   ULIX_BINDING_TYPE(Credentials, "Credentials")
//
//   BindingStructBuilder<Credentials>(registry)
//       .AddField(&Credentials::user, "user", "Sign-on name", kRequired)
//       .AddField(&Credentials::attempts, "attempts")
//       .AddOptionalField(&Credentials::token, "token")  // std::optional<std::string>
//       .Description("Who signs on.")
//       .Tag("Plugins");
#ifndef BINDING_BINDING_STRUCT_BUILDER_H_
#define BINDING_BINDING_STRUCT_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "binding/binding_native_type.h"
#include "binding/binding_type_registry.h"
#include "binding/native_conversion.h"

namespace binding {

// Registers `Record` under its declared name (or `name`) when constructed. When the name is
// already registered every call does nothing (see AlreadyRegistered()). Struct and enum members
// must be registered before the struct that holds them, so that their descriptors resolve.
template <NamedBindingType Record>
requires std::is_class_v<Record>
class BindingStructBuilder {
 public:
  explicit BindingStructBuilder(BindingTypeRegistry& registry,
                                std::string_view name = BindingTypeNameFor<Record>())
      : registry_(registry),
        builder_(registry.beginType(sizeof(Record), name, BindingStaticTypeOf<Record>(), false)) {}

  template <BindingConvertible Member>
  BindingStructBuilder& AddField(Member Record::*member, std::string_view name,
                                 std::string_view description = {},
                                 std::uint32_t flags = kFieldFlagsNone,
                                 const BindingTypeIdentifier& host_type = {}) {
    return Add(member, name, description, flags, host_type, 0);
  }
  // As AddField, with the field's optional mark set: help reports the field as "optional" and
  // the catalogue carries the mark. Conversion is unchanged by it.
  template <BindingConvertible Member>
  BindingStructBuilder& AddOptionalField(Member Record::*member, std::string_view name,
                                         std::string_view description = {},
                                         std::uint32_t flags = kFieldFlagsNone,
                                         const BindingTypeIdentifier& host_type = {}) {
    return Add(member, name, description, flags, host_type, 1);
  }
  BindingStructBuilder& Description(std::string_view text) {
    builder_.setDescription(text);
    return *this;
  }
  BindingStructBuilder& NameSpace(std::string_view word) {
    builder_.setNameSpace(word);
    return *this;
  }
  BindingStructBuilder& Tag(std::string_view tag) {
    builder_.addTag(tag);
    return *this;
  }

  bool AlreadyRegistered() const { return builder_.alreadyRegistered(); }
  const BindingTypeDescriptor* descriptor() const { return builder_.descriptor(); }

 private:
  template <typename Member>
  static std::uint32_t OffsetOf(Member Record::*member) {
    // Any suitably aligned storage answers the question; no Record is constructed.
    alignas(Record) std::byte storage[sizeof(Record)];
    const auto* record = reinterpret_cast<const Record*>(storage);
    return static_cast<std::uint32_t>(reinterpret_cast<const std::byte*>(&(record->*member)) -
                                      storage);
  }

  // `optional_mark` is the field's 8-bit optional mark (1 for AddOptionalField).
  template <BindingConvertible Member>
  BindingStructBuilder& Add(Member Record::*member, std::string_view name,
                            std::string_view description, std::uint32_t flags,
                            const BindingTypeIdentifier& host_type, std::uint8_t optional_mark) {
    if (builder_.alreadyRegistered()) return *this;
    builder_.addField(name, description, OffsetOf(member), BindingStaticTypeOf<Member>(),
                      TypeIdentifierOf<Member>(registry_), host_type, flags,
                      std::make_unique<TypedFieldConverter<Member>>(), optional_mark);
    return *this;
  }

  BindingTypeRegistry& registry_;
  BindingTypeBuilder builder_;
};

// Registers the enumeration `Enum`, whose values travel as signed 32-bit numbers.
template <NamedBindingType Enum>
requires std::is_enum_v<Enum>
class BindingEnumBuilder {
 public:
  explicit BindingEnumBuilder(BindingTypeRegistry& registry,
                              std::string_view name = BindingTypeNameFor<Enum>())
      : builder_(
            registry.beginType(sizeof(std::int32_t), name, BindingStaticTypeOf<Enum>(), true)) {}

  BindingEnumBuilder& AddValue(Enum value, std::string_view name,
                               std::string_view description = {}) {
    builder_.addEnumValue(name, static_cast<std::int32_t>(value), description);
    return *this;
  }
  BindingEnumBuilder& Description(std::string_view text) {
    builder_.setDescription(text);
    return *this;
  }
  BindingEnumBuilder& NameSpace(std::string_view word) {
    builder_.setNameSpace(word);
    return *this;
  }
  BindingEnumBuilder& Tag(std::string_view tag) {
    builder_.addTag(tag);
    return *this;
  }

  bool AlreadyRegistered() const { return builder_.alreadyRegistered(); }
  const BindingTypeDescriptor* descriptor() const { return builder_.descriptor(); }

 private:
  BindingTypeBuilder builder_;
};

}  // namespace binding

#endif  // BINDING_BINDING_STRUCT_BUILDER_H_
