// How native types are described to the binding layer: native kinds, type identifiers, the
// descriptors of registered structs, enums, functions and events, and the registry holding them.
#ifndef BINDING_BINDING_TYPE_REGISTRY_H_
#define BINDING_BINDING_TYPE_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_static_type.h"
#include "wire/native_type_kind.h"

namespace binding {

class BindingTypeRegistry;
class BindingValue;
struct BindingConversionResult;
struct BindingTypeDescriptor;

// The numbers are those of the host's type catalogue.
using NativeTypeKind = wire::NativeTypeKind;

// What a member, argument or return value is. For a vector or map, `elementKind` and
// `descriptor` describe the element (one level deep: a vector of vectors has no element
// description); for an enum or struct, `descriptor` is its own registered descriptor.
struct BindingTypeIdentifier {
  NativeTypeKind kind = NativeTypeKind::kNone;
  NativeTypeKind elementKind = NativeTypeKind::kNone;
  const BindingTypeDescriptor* descriptor = nullptr;
};

// The pair help documents show for a type ("vector" and "int32", "BindingAsyncState" and "").
struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};

// Native name of a kind ("bool" ... "map"); "" outside 1..19.
std::string_view typeName(NativeTypeKind kind);
// Help (epytext) name: "list[uint8]", "dict[string]", "L{Name}", "bytearray", ...; "" outside
// 1..19.
std::string helpTypeName(const BindingTypeIdentifier& type);
BindingFullTypeIdentifier fullTypeIdentifier(const BindingTypeIdentifier& type);

// Bits of BindingFieldDescriptor::flags.
enum FieldFlags : std::uint32_t {
  kFieldFlagsNone = 0,
  kOmitWhenDefault = 1,  // left out of produced structures when it holds its default
  kRequired = 2,         // an input structure without it fails to assign
};

// Moves one member between its native form and a BindingValue. One per field, owned by it;
// immutable after registration, so any thread may use it.
class BindingFieldConverter {
 public:
  // Writes the native member at `member` from `input`. Failures go to `result` through fail(),
  // with `name` as the member's name in the message.
  virtual void Assign(BindingConversionResult& result, void* member, const BindingValue& input,
                      std::string_view name, const BindingTypeIdentifier& type,
                      const BindingTypeRegistry& registry) const = 0;
  // Builds `target` (a value of `result`'s tree, or `result.value` itself) from the native
  // member. On failure fail() has replaced `result.value`, so `target` must not be used again.
  virtual void Produce(BindingConversionResult& result, BindingValue& target, const void* member,
                       const BindingTypeIdentifier& type,
                       const BindingTypeRegistry& registry) const = 0;
  virtual ~BindingFieldConverter() = default;
};

struct BindingFieldDescriptor {
  std::string name;
  std::uint32_t nameHash = 0;  // Fnv1a(name)
  std::string description;
  const BindingStaticType* staticType = nullptr;
  std::uint32_t offset = 0;
  BindingTypeIdentifier type;
  // Announced to the host in place of `type` when its kind is not kNone.
  BindingTypeIdentifier hostType;
  std::uint32_t flags = kFieldFlagsNone;
  std::unique_ptr<BindingFieldConverter> converter;
  const BindingTypeDescriptor* owner = nullptr;
  std::uint8_t optional = 0;  // shown by help only
};

struct BindingEnumValue {
  std::string name;
  std::int32_t value = 0;
  std::string description;
  const BindingTypeDescriptor* owner = nullptr;
};

// One registered struct or enum. Owned by the registry and unchanged after registration.
struct BindingTypeDescriptor {
  std::uint32_t size = 0;
  std::uint8_t isEnum = 0;
  std::string name;
  std::uint32_t typeId = 0;
  const BindingStaticType* staticType = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFieldDescriptor> fields;  // registration order
  std::vector<BindingEnumValue> values;        // ascending byte order of names
  const BindingTypeRegistry* registry = nullptr;

  // The enumerator with `value`, or nullptr (enums only).
  const BindingEnumValue* findEnumValue(std::int32_t value) const;
  const BindingEnumValue* findEnumValue(std::string_view name) const;
};

struct BindingArgumentDescriptor {
  std::string name;
  std::uint32_t nameHash = 0;
  std::string description;
  std::uint8_t optional = 0;
  BindingTypeIdentifier type;
  BindingTypeIdentifier hostType;
  std::vector<std::string> tags;
  // Where the request router takes the value from (0 any, 1 query, 2 path, 4 header, 5 body).
  std::uint32_t location = 0;
};

struct BindingFunctionDescriptor {
  std::string name;
  std::string nameSpace;
  std::string description;
  std::string help;
  std::vector<BindingArgumentDescriptor> arguments;
  BindingTypeIdentifier returnType;
  BindingTypeIdentifier hostReturnType;
  std::uint8_t threadSafe = 0;
  std::uint8_t async = 0;
  std::vector<std::string> tags;
  const BindingTypeRegistry* registry = nullptr;

  // Appends an argument (hashing its name) and returns it so the caller can set its host type
  // or location.
  BindingArgumentDescriptor& addArgument(std::string_view name, std::string_view description,
                                         const BindingTypeIdentifier& type, bool optional,
                                         std::vector<std::string> tags = {});
};

struct BindingEventDescriptor {
  std::string name;
  const BindingTypeDescriptor* payload = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

// Returned by beginType. When the name was registered before, `alreadyRegistered` is set and
// every call on the builder does nothing, so a repeated registration is harmless. The builder
// borrows the registry, which must outlive it; use it on the registering thread only.
class BindingTypeBuilder {
 public:
  BindingTypeBuilder(BindingTypeRegistry* registry, BindingTypeDescriptor* descriptor,
                     bool already_registered)
      : registry_(registry), descriptor_(descriptor), already_registered_(already_registered) {}

  // Takes ownership of `converter`.
  void addField(std::string_view name, std::string_view description, std::uint32_t offset,
                const BindingStaticType& static_type, const BindingTypeIdentifier& type,
                const BindingTypeIdentifier& host_type, std::uint32_t flags,
                std::unique_ptr<BindingFieldConverter> converter, std::uint8_t optional = 0);
  // Re-adding a name replaces its value and description.
  void addEnumValue(std::string_view name, std::int32_t value, std::string_view description);
  void setDescription(std::string_view text);
  // The word the host groups the type under; empty unless set.
  void setNameSpace(std::string_view word);
  // An empty tag is ignored.
  void addTag(std::string_view tag);

  BindingTypeRegistry* registry() const { return registry_; }
  // The new descriptor, or the one registered before under the name.
  const BindingTypeDescriptor* descriptor() const { return descriptor_; }
  bool alreadyRegistered() const { return already_registered_; }

 private:
  BindingTypeRegistry* registry_;
  BindingTypeDescriptor* descriptor_;
  bool already_registered_;
};

// The plug-in's registry of struct and enum types, functions and events. Filled when the plug-in
// starts and read afterwards; every registration and look-up takes the one mutex for the time of
// the map access, and descriptors never change once registered, so any thread may read them.
// Descriptors live as long as the registry (or until reset()).
class BindingTypeRegistry {
 public:
  BindingTypeRegistry();
  BindingTypeRegistry(const BindingTypeRegistry&) = delete;
  BindingTypeRegistry& operator=(const BindingTypeRegistry&) = delete;
  ~BindingTypeRegistry();

  // Looks the name up: an existing descriptor is reused (alreadyRegistered set); otherwise a new
  // one is entered by name and, unless its id is kReservedStaticTypeId, by id.
  BindingTypeBuilder beginType(std::uint32_t size, std::string_view name,
                               const BindingStaticType& static_type, bool isEnum);
  // A new function descriptor with room for `argument_count` arguments. When the name is taken
  // the existing descriptor is returned unchanged and `*already_registered` (if given) is set.
  BindingFunctionDescriptor* registerFunction(std::string_view name, std::size_t argument_count,
                                              bool* already_registered = nullptr);
  // Callers look the event up first; a taken name returns the existing descriptor.
  BindingEventDescriptor* registerEvent(std::string_view name,
                                        const BindingTypeDescriptor* payload);

  // nullptr when absent.
  const BindingFunctionDescriptor* findFunction(std::string_view name) const;
  const BindingTypeDescriptor* findType(std::string_view name) const;
  const BindingTypeDescriptor* findType(std::uint32_t static_type_id) const;
  const BindingEventDescriptor* findEvent(std::string_view name) const;

  // Copies of the name maps, in ascending byte order of names, for help and the catalogue.
  std::vector<const BindingFunctionDescriptor*> functionSnapshot() const;
  std::vector<const BindingTypeDescriptor*> typeSnapshot() const;
  std::vector<const BindingEventDescriptor*> eventSnapshot() const;

  // Drops every function, event and type (the builtin registration starts from scratch).
  void reset();
  bool builtinsRegistered() const;
  void setBuiltinsRegistered(bool registered);

 private:
  struct IdHash {
    // FNV-1a over the id's four bytes, least significant first.
    std::size_t operator()(std::uint32_t id) const;
  };

  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<BindingFunctionDescriptor>, std::less<>> functions_;
  std::map<std::string, std::unique_ptr<BindingEventDescriptor>, std::less<>> events_;
  std::map<std::string, std::unique_ptr<BindingTypeDescriptor>, std::less<>> types_;
  std::unordered_map<std::uint32_t, BindingTypeDescriptor*, IdHash> types_by_id_;
  bool builtins_registered_ = false;
};

}  // namespace binding

#endif  // BINDING_BINDING_TYPE_REGISTRY_H_
