#include "binding/binding_help.h"

#include <algorithm>
#include <string>

#include "binding/native_conversion.h"
#include "logging/positional_formatter.h"

namespace binding {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

template <typename Descriptor>
void SortByName(std::vector<const Descriptor*>& list) {
  // std::string compares bytes as unsigned, so a shorter name sorts before its extensions.
  std::stable_sort(list.begin(), list.end(),
                   [](const Descriptor* a, const Descriptor* b) { return a->name < b->name; });
}

void AppendLine(std::string& out, std::string_view a, std::string_view b = {},
                std::string_view c = {}, std::string_view d = {}) {
  out.append(a).append(b).append(c).append(d).append(kLineEnd);
}

void AppendParagraph(std::string& out, std::string_view text) {
  out.append(EpytextEscape(text)).append(kLineEnd).append(kLineEnd);
}

void AppendTags(std::string& out, const std::vector<std::string>& tags) {
  if (tags.empty()) return;
  out.append("@tags: ");
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (i > 0) out.push_back(',');
    out.append(tags[i]);
  }
  out.append(kLineEnd);
}

// ---- Full records ----

BindingFullFunctionHelp FunctionRecord(const BindingFunctionDescriptor& function) {
  BindingFullFunctionHelp record;
  record.name = function.name;
  record.nameSpace = function.nameSpace;
  record.description = function.description;
  record.help = function.help;
  record.threadSafe = function.threadSafe != 0;
  if (function.async != 0 && function.returnType.descriptor != nullptr) {
    record.async = function.returnType.descriptor->name;
  }
  record.tags = function.tags;
  record.returns = fullTypeIdentifier(function.returnType);
  for (const BindingArgumentDescriptor& argument : function.arguments) {
    record.arguments.push_back(BindingFullArgumentHelp{argument.name, argument.description,
                                                       fullTypeIdentifier(argument.type),
                                                       argument.optional != 0});
  }
  return record;
}

BindingFullTypeHelp TypeRecord(const BindingTypeDescriptor& type) {
  BindingFullTypeHelp record;
  record.name = type.name;
  record.nameSpace = type.nameSpace;
  record.size = type.size;
  record.description = type.description;
  record.tags = type.tags;
  if (type.isEnum) {
    for (const BindingEnumValue& value : type.values) {
      record.values.push_back(BindingFullEnumValueHelp{value.name, value.description, value.value});
    }
  } else {
    for (const BindingFieldDescriptor& field : type.fields) {
      record.fields.push_back(BindingFullFieldHelp{field.name, field.description, field.offset,
                                                   fullTypeIdentifier(field.type),
                                                   field.optional != 0});
    }
  }
  return record;
}

BindingFullEventHelp EventRecord(const BindingEventDescriptor& event) {
  BindingFullEventHelp record;
  record.name = event.name;
  record.nameSpace = event.nameSpace;
  record.description = event.description;
  record.tags = event.tags;
  BindingTypeIdentifier payload{NativeTypeKind::kStruct, NativeTypeKind::kNone, event.payload};
  if (event.payload != nullptr && event.payload->isEnum) payload.kind = NativeTypeKind::kEnum;
  record.type = fullTypeIdentifier(payload);
  return record;
}

template <typename Record>
void AppendFull(BindingValue& list, const Record& record, const BindingTypeRegistry& registry) {
  // The element exists before the conversion so that a failed one leaves an empty slot.
  BindingValue& item = list.appendElement();
  BindingConversionResult converted = toValue(&record, BindingStaticTypeOf<Record>(), registry);
  if (converted.ok) item = std::move(converted.value);
}

}  // namespace

std::string EpytextEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (i == 0 && c == '-') {
      out.append("E{-}");
    } else if (c == '{') {
      out.append("E{lb}");
    } else if (c == '}') {
      out.append("E{rb}");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string FunctionEpytext(const BindingFunctionDescriptor& function) {
  std::string out;
  if (!function.description.empty()) AppendParagraph(out, function.description);
  if (!function.help.empty()) AppendParagraph(out, function.help);
  for (const BindingArgumentDescriptor& argument : function.arguments) {
    if (!argument.description.empty()) {
      out.append("@param ").append(argument.name).append(": ");
      if (argument.optional) out.append("(optional) ");
      AppendLine(out, EpytextEscape(argument.description));
    }
    AppendLine(out, "@type ", argument.name, ": ", helpTypeName(argument.type));
  }
  if (function.returnType.kind != NativeTypeKind::kNone) {
    AppendLine(out, "@rtype: ", helpTypeName(function.returnType));
  }
  AppendTags(out, function.tags);
  if (function.threadSafe) AppendLine(out, "@threadsafe: true");
  if (function.async) AppendLine(out, "@async: ", helpTypeName(function.returnType));
  return out;
}

std::string TypeEpytext(const BindingTypeDescriptor& type) {
  std::string out;
  if (!type.description.empty()) AppendParagraph(out, type.description);
  if (!type.isEnum) {
    for (const BindingFieldDescriptor& field : type.fields) {
      AppendLine(out, "@ivar ", field.name, ": ", field.description);
      AppendLine(out, "@type ", field.name, ": ", helpTypeName(field.type));
    }
    AppendTags(out, type.tags);
    return out;
  }
  std::vector<const BindingEnumValue*> by_value;
  for (const BindingEnumValue& value : type.values) by_value.push_back(&value);
  std::stable_sort(
      by_value.begin(), by_value.end(),
      [](const BindingEnumValue* a, const BindingEnumValue* b) { return a->value < b->value; });
  for (const BindingEnumValue* value : by_value) {
    out.append("@cvar ").append(value->name).append(": (").append(std::to_string(value->value));
    out.push_back(')');
    if (!value->description.empty()) out.append(" ").append(value->description);
    out.append(kLineEnd);
  }
  AppendTags(out, type.tags);
  AppendLine(out, "@size: ", std::to_string(type.size));
  return out;
}

std::string EventEpytext(const BindingEventDescriptor& event) {
  std::string out;
  AppendParagraph(out, event.description);
  AppendTags(out, event.tags);
  return out;
}

BindingConversionResult buildApiHelp(const BindingTypeRegistry& registry,
                                     std::vector<const BindingFunctionDescriptor*> functions,
                                     std::vector<const BindingTypeDescriptor*> types,
                                     std::vector<const BindingEventDescriptor*> events,
                                     BindingHelpFormat format) {
  BindingConversionResult result;
  if (format != BindingHelpFormat::kFull && format != BindingHelpFormat::kEpytext) {
    fail(result, logging::FormatPositional("Unsupported help format %1",
                                           {static_cast<std::int32_t>(format)}));
    return result;
  }
  SortByName(functions);
  SortByName(types);
  SortByName(events);
  // Keys in ascending order cost no search when a structure grows.
  BindingValue& event_list = result.value.fieldForWrite("events");
  BindingValue* function_list = nullptr;
  BindingValue* type_list = nullptr;
  if (format == BindingHelpFormat::kFull) {
    for (const BindingEventDescriptor* event : events) {
      AppendFull(event_list, EventRecord(*event), registry);
    }
    function_list = &result.value.fieldForWrite("functions");
    for (const BindingFunctionDescriptor* function : functions) {
      AppendFull(*function_list, FunctionRecord(*function), registry);
    }
    type_list = &result.value.fieldForWrite("types");
    for (const BindingTypeDescriptor* type : types) {
      AppendFull(*type_list, TypeRecord(*type), registry);
    }
    return result;
  }
  for (const BindingEventDescriptor* event : events) {
    event_list.fieldForWrite(event->name).setString(EventEpytext(*event));
  }
  function_list = &result.value.fieldForWrite("functions");
  for (const BindingFunctionDescriptor* function : functions) {
    function_list->fieldForWrite(function->name).setString(FunctionEpytext(*function));
  }
  type_list = &result.value.fieldForWrite("types");
  for (const BindingTypeDescriptor* type : types) {
    type_list->fieldForWrite(type->name).setString(TypeEpytext(*type));
  }
  return result;
}

}  // namespace binding
