#include "binding/binding_type_registry.h"

#include <algorithm>

#include "logging/positional_formatter.h"

namespace binding {
namespace {

struct KindNames {
  std::string_view native;
  std::string_view help;
};

constexpr KindNames kKindNames[] = {
    {"", ""},
    {"bool", "bool"},
    {"int8", "int8"},
    {"uint8", "uint8"},
    {"int16", "int16"},
    {"uint16", "uint16"},
    {"int32", "int32"},
    {"uint32", "uint32"},
    {"int64", "int64"},
    {"uint64", "uint64"},
    {"float", "float"},
    {"double", "double"},
    {"string", "string"},
    {"object", "object"},
    {"blob", "bytearray"},
    {"vector", "list[%1]"},
    {"enum", "L{%1}"},
    {"struct", "L{%1}"},
    {"callback", "callback"},
    {"map", "dict[%1]"},
};

const KindNames& NamesOf(NativeTypeKind kind) {
  auto index = static_cast<std::uint32_t>(kind);
  return index < std::size(kKindNames) ? kKindNames[index] : kKindNames[0];
}

BindingTypeIdentifier ElementOf(const BindingTypeIdentifier& type) {
  return BindingTypeIdentifier{type.elementKind, NativeTypeKind::kNone, type.descriptor};
}

}  // namespace

std::string_view typeName(NativeTypeKind kind) { return NamesOf(kind).native; }

std::string helpTypeName(const BindingTypeIdentifier& type) {
  switch (type.kind) {
    case NativeTypeKind::kVector:
    case NativeTypeKind::kMap:
      return logging::FormatPositional(NamesOf(type.kind).help, {helpTypeName(ElementOf(type))});
    case NativeTypeKind::kEnum:
    case NativeTypeKind::kStruct:
      return logging::FormatPositional(
          NamesOf(type.kind).help,
          {type.descriptor != nullptr ? std::string_view(type.descriptor->name) : ""});
    default:
      return std::string(NamesOf(type.kind).help);
  }
}

BindingFullTypeIdentifier fullTypeIdentifier(const BindingTypeIdentifier& type) {
  switch (type.kind) {
    case NativeTypeKind::kVector:
    case NativeTypeKind::kMap:
      return {std::string(typeName(type.kind)), fullTypeIdentifier(ElementOf(type)).type};
    case NativeTypeKind::kEnum:
    case NativeTypeKind::kStruct:
      return {type.descriptor != nullptr ? type.descriptor->name : std::string(typeName(type.kind)),
              std::string()};
    default:
      return {std::string(typeName(type.kind)), std::string()};
  }
}

// ---- Descriptors --------------------------------------------------------------------------------

const BindingEnumValue* BindingTypeDescriptor::findEnumValue(std::int32_t value) const {
  for (const BindingEnumValue& enumerator : values) {
    if (enumerator.value == value) return &enumerator;
  }
  return nullptr;
}

const BindingEnumValue* BindingTypeDescriptor::findEnumValue(std::string_view name) const {
  auto at = std::lower_bound(values.begin(), values.end(), name,
                             [](const BindingEnumValue& enumerator, std::string_view key) {
                               return enumerator.name < key;
                             });
  return at != values.end() && at->name == name ? &*at : nullptr;
}

BindingArgumentDescriptor& BindingFunctionDescriptor::addArgument(std::string_view name,
                                                                  std::string_view description,
                                                                  const BindingTypeIdentifier& type,
                                                                  bool optional,
                                                                  std::vector<std::string> tags) {
  BindingArgumentDescriptor& argument = arguments.emplace_back();
  argument.name = name;
  argument.nameHash = Fnv1a(name);
  argument.description = description;
  argument.optional = optional ? 1 : 0;
  argument.type = type;
  argument.tags = std::move(tags);
  return argument;
}

// ---- Builder ------------------------------------------------------------------------------------

void BindingTypeBuilder::addField(std::string_view name, std::string_view description,
                                  std::uint32_t offset, const BindingStaticType& static_type,
                                  const BindingTypeIdentifier& type,
                                  const BindingTypeIdentifier& host_type, std::uint32_t flags,
                                  std::unique_ptr<BindingFieldConverter> converter,
                                  std::uint8_t optional) {
  if (already_registered_) return;
  BindingFieldDescriptor& field = descriptor_->fields.emplace_back();
  field.name = name;
  field.nameHash = Fnv1a(name);
  field.description = description;
  field.staticType = &static_type;
  field.offset = offset;
  field.type = type;
  if (host_type.kind != NativeTypeKind::kNone) field.hostType = host_type;
  field.flags = flags;
  field.converter = std::move(converter);
  field.owner = descriptor_;
  field.optional = optional;
}

void BindingTypeBuilder::addEnumValue(std::string_view name, std::int32_t value,
                                      std::string_view description) {
  if (already_registered_) return;
  std::vector<BindingEnumValue>& values = descriptor_->values;
  auto at = std::lower_bound(values.begin(), values.end(), name,
                             [](const BindingEnumValue& enumerator, std::string_view key) {
                               return enumerator.name < key;
                             });
  if (at == values.end() || at->name != name) {
    at = values.insert(at, BindingEnumValue{std::string(name), 0, {}, descriptor_});
  }
  at->value = value;
  at->description = description;
}

void BindingTypeBuilder::setDescription(std::string_view text) {
  if (already_registered_) return;
  descriptor_->description = text;
}

void BindingTypeBuilder::setNameSpace(std::string_view word) {
  if (already_registered_) return;
  descriptor_->nameSpace = word;
}

void BindingTypeBuilder::addTag(std::string_view tag) {
  if (already_registered_ || tag.empty()) return;
  descriptor_->tags.emplace_back(tag);
}

// ---- Registry -----------------------------------------------------------------------------------

std::size_t BindingTypeRegistry::IdHash::operator()(std::uint32_t id) const {
  std::uint32_t hash = 0x811C9DC5u;
  for (int i = 0; i < 4; ++i) {
    hash ^= (id >> (8 * i)) & 0xFF;
    hash *= 16777619u;
  }
  return hash;
}

BindingTypeRegistry::BindingTypeRegistry() = default;
BindingTypeRegistry::~BindingTypeRegistry() = default;

BindingTypeBuilder BindingTypeRegistry::beginType(std::uint32_t size, std::string_view name,
                                                  const BindingStaticType& static_type,
                                                  bool isEnum) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = types_.find(name);
  if (found != types_.end()) return BindingTypeBuilder(this, found->second.get(), true);
  auto descriptor = std::make_unique<BindingTypeDescriptor>();
  descriptor->size = size;
  descriptor->isEnum = isEnum ? 1 : 0;
  descriptor->name = name;
  descriptor->typeId = static_type.id();
  descriptor->staticType = &static_type;
  descriptor->registry = this;
  BindingTypeDescriptor* raw = descriptor.get();
  types_.emplace(std::string(name), std::move(descriptor));
  // The first descriptor of an id keeps the index entry.
  if (static_type.id() != kReservedStaticTypeId) types_by_id_.emplace(static_type.id(), raw);
  return BindingTypeBuilder(this, raw, false);
}

BindingFunctionDescriptor* BindingTypeRegistry::registerFunction(std::string_view name,
                                                                 std::size_t argument_count,
                                                                 bool* already_registered) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = functions_.find(name);
  if (already_registered != nullptr) *already_registered = found != functions_.end();
  if (found != functions_.end()) return found->second.get();
  auto function = std::make_unique<BindingFunctionDescriptor>();
  function->name = name;
  function->arguments.reserve(argument_count);
  function->registry = this;
  BindingFunctionDescriptor* raw = function.get();
  functions_.emplace(std::string(name), std::move(function));
  return raw;
}

BindingEventDescriptor* BindingTypeRegistry::registerEvent(std::string_view name,
                                                           const BindingTypeDescriptor* payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = events_.find(name);
  if (found != events_.end()) return found->second.get();
  auto event = std::make_unique<BindingEventDescriptor>();
  event->name = name;
  event->payload = payload;
  BindingEventDescriptor* raw = event.get();
  events_.emplace(std::string(name), std::move(event));
  return raw;
}

const BindingFunctionDescriptor* BindingTypeRegistry::findFunction(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = functions_.find(name);
  return found != functions_.end() ? found->second.get() : nullptr;
}

const BindingTypeDescriptor* BindingTypeRegistry::findType(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = types_.find(name);
  return found != types_.end() ? found->second.get() : nullptr;
}

const BindingTypeDescriptor* BindingTypeRegistry::findType(std::uint32_t static_type_id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = types_by_id_.find(static_type_id);
  return found != types_by_id_.end() ? found->second : nullptr;
}

const BindingEventDescriptor* BindingTypeRegistry::findEvent(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = events_.find(name);
  return found != events_.end() ? found->second.get() : nullptr;
}

namespace {

template <typename Descriptor, typename Map>
std::vector<const Descriptor*> Snapshot(const Map& map) {
  std::vector<const Descriptor*> items;
  items.reserve(map.size());
  for (const auto& [name, descriptor] : map) items.push_back(descriptor.get());
  return items;
}

}  // namespace

std::vector<const BindingFunctionDescriptor*> BindingTypeRegistry::functionSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot<BindingFunctionDescriptor>(functions_);
}

std::vector<const BindingTypeDescriptor*> BindingTypeRegistry::typeSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot<BindingTypeDescriptor>(types_);
}

std::vector<const BindingEventDescriptor*> BindingTypeRegistry::eventSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot<BindingEventDescriptor>(events_);
}

void BindingTypeRegistry::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  functions_.clear();
  events_.clear();
  types_by_id_.clear();
  types_.clear();
  builtins_registered_ = false;
}

bool BindingTypeRegistry::builtinsRegistered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return builtins_registered_;
}

void BindingTypeRegistry::setBuiltinsRegistered(bool registered) {
  std::lock_guard<std::mutex> lock(mutex_);
  builtins_registered_ = registered;
}

}  // namespace binding
