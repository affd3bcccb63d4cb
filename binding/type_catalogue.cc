#include "binding/type_catalogue.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace binding {
namespace {

const char* Text(const std::string& text) { return text.c_str(); }

// The host reads kinds and names of what it exchanges: a host type, when set, replaces the
// declared one.
const BindingTypeIdentifier& Announced(const BindingTypeIdentifier& type,
                                       const BindingTypeIdentifier& host_type) {
  return host_type.kind != NativeTypeKind::kNone ? host_type : type;
}

const char* TypeNameOf(const BindingTypeIdentifier& type) {
  switch (type.kind) {
    case NativeTypeKind::kVector:
    case NativeTypeKind::kEnum:
    case NativeTypeKind::kStruct:
    case NativeTypeKind::kMap:
      if (type.descriptor != nullptr) return Text(type.descriptor->name);
      return "";
    default:
      return "";
  }
}

// Arguments and fields describe a typed member the same way: name, description, the announced
// kind, element kind and type name, and the optional mark.
template <typename Record, typename Member>
void DescribeMember(Record& out, const Member& member) {
  const BindingTypeIdentifier& type = Announced(member.type, member.hostType);
  out.name = Text(member.name);
  out.description = Text(member.description);
  out.kind = static_cast<std::uint32_t>(type.kind);
  out.elementKind = static_cast<std::uint32_t>(type.elementKind);
  out.typeName = TypeNameOf(type);
  out.optional = member.optional;
}

template <typename Descriptor>
std::vector<const Descriptor*> SortedByName(std::vector<const Descriptor*> list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const Descriptor* a, const Descriptor* b) { return a->name < b->name; });
  return list;
}

// `next` is filled once the array has its final address.
template <typename Record>
void Chain(Record* records, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    records[i].next = i + 1 < count ? &records[i + 1] : nullptr;
  }
}

}  // namespace

const CatalogueFunction* TypeCatalogueHolder::FindFunction(std::string_view name) const {
  auto found = std::lower_bound(
      functions_.begin(), functions_.end(), name,
      [](const CatalogueFunction& record, std::string_view key) { return record.name < key; });
  if (found == functions_.end() || std::string_view(found->name) != name) return nullptr;
  return &*found;
}

void TypeCatalogueHolder::ReplaceFunctionArray(const void* records, std::uint32_t count) {
  catalogue_.functions = records;
  catalogue_.functionCount = count;
}

std::unique_ptr<TypeCatalogueHolder> buildTypeCatalogue(
    const std::vector<const BindingFunctionDescriptor*>& function_list,
    const std::vector<const BindingTypeDescriptor*>& type_list,
    const std::vector<const BindingEventDescriptor*>& event_list) {
  auto holder = std::make_unique<TypeCatalogueHolder>();
  auto tags_of = [&holder](const std::vector<std::string>& tags) -> const char* const* {
    if (tags.empty()) return nullptr;
    auto array = std::make_unique<const char*[]>(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) array[i] = Text(tags[i]);
    holder->tag_arrays_.push_back(std::move(array));
    return holder->tag_arrays_.back().get();
  };

  for (const BindingFunctionDescriptor* function : SortedByName(function_list)) {
    CatalogueFunction record{};
    record.name = Text(function->name);
    record.nameSpace = Text(function->nameSpace);
    if (!function->arguments.empty()) {
      const std::size_t count = function->arguments.size();
      auto arguments = std::make_unique<CatalogueArgument[]>(count);
      for (std::size_t i = 0; i < count; ++i) DescribeMember(arguments[i], function->arguments[i]);
      Chain(arguments.get(), count);
      record.arguments = arguments.get();
      record.argumentCount = static_cast<std::uint32_t>(count);
      holder->argument_arrays_.push_back(std::move(arguments));
    }
    const BindingTypeIdentifier& returns =
        Announced(function->returnType, function->hostReturnType);
    record.returnKind = static_cast<std::uint32_t>(returns.kind);
    record.returnElementKind = static_cast<std::uint32_t>(returns.elementKind);
    record.returnTypeName = TypeNameOf(returns);
    record.description = Text(function->description);
    record.help = Text(function->help);
    record.threadSafe = function->threadSafe;
    record.asyncResultTypeName = function->async != 0 && function->returnType.descriptor != nullptr
                                     ? Text(function->returnType.descriptor->name)
                                     : "";
    record.tags = tags_of(function->tags);
    record.tagCount = static_cast<std::uint32_t>(function->tags.size());
    holder->functions_.push_back(record);
  }

  for (const BindingTypeDescriptor* type : SortedByName(type_list)) {
    CatalogueType record{};
    record.name = Text(type->name);
    record.nameSpace = Text(type->nameSpace);
    record.size = type->size;
    record.description = Text(type->description);
    record.tags = tags_of(type->tags);
    record.tagCount = static_cast<std::uint32_t>(type->tags.size());
    if (!type->fields.empty()) {
      const std::size_t count = type->fields.size();
      auto fields = std::make_unique<CatalogueField[]>(count);
      for (std::size_t i = 0; i < count; ++i) {
        DescribeMember(fields[i], type->fields[i]);
        fields[i].offset = type->fields[i].offset;
      }
      Chain(fields.get(), count);
      record.fields = fields.get();
      record.memberCount = static_cast<std::uint32_t>(count);
      holder->field_arrays_.push_back(std::move(fields));
    } else {
      // Enums, and structs without fields, which the host reads as an empty enumerator list.
      const std::size_t count = type->values.size();
      auto enumerators = std::make_unique<CatalogueEnumerator[]>(count);
      for (std::size_t i = 0; i < count; ++i) {
        const BindingEnumValue& value = type->values[i];
        enumerators[i].name = Text(value.name);
        enumerators[i].description = Text(value.description);
        enumerators[i].value = value.value;
      }
      Chain(enumerators.get(), count);
      record.enumerators = enumerators.get();
      record.memberCount = static_cast<std::uint32_t>(count);
      holder->enumerator_arrays_.push_back(std::move(enumerators));
    }
    holder->types_.push_back(record);
  }

  for (const BindingEventDescriptor* event : SortedByName(event_list)) {
    CatalogueEvent record{};
    record.name = Text(event->name);
    record.nameSpace = Text(event->nameSpace);
    record.payloadTypeName = event->payload != nullptr ? Text(event->payload->name) : "";
    record.description = Text(event->description);
    record.tags = tags_of(event->tags);
    record.tagCount = static_cast<std::uint32_t>(event->tags.size());
    holder->events_.push_back(record);
  }

  Chain(holder->functions_.data(), holder->functions_.size());
  Chain(holder->types_.data(), holder->types_.size());
  Chain(holder->events_.data(), holder->events_.size());
  TypeCatalogue& words = holder->catalogue_;
  words.functions = holder->functions_.empty() ? nullptr : holder->functions_.data();
  words.functionCount = static_cast<std::uint32_t>(holder->functions_.size());
  words.types = holder->types_.empty() ? nullptr : holder->types_.data();
  words.typeCount = static_cast<std::uint32_t>(holder->types_.size());
  words.events = holder->events_.empty() ? nullptr : holder->events_.data();
  words.eventCount = static_cast<std::uint32_t>(holder->events_.size());
  return holder;
}

}  // namespace binding
