#include "binding/native_conversion.h"

#include <cerrno>
#include <cstdlib>

#include "logging/positional_formatter.h"

namespace binding {
namespace {

using logging::FormatArgument;
using logging::FormatPositional;

constexpr std::string_view kRequiredMessage = "A value for '%1' is required.";
constexpr std::string_view kBoolFormatMessage =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
constexpr std::string_view kBoolInvalidTypeMessage =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
constexpr std::string_view kFormatMessage =
    "Value %1 for '%2' of type %3 is in an incorrect format";
constexpr std::string_view kRangeMessage = "Value %1 for '%2' of type %3 is out of range";
constexpr std::string_view kInvalidTypeMessage =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
constexpr std::string_view kNotEnumeratorMessage = "%1 is not a valid enumeration value for '%2'.";
constexpr std::string_view kNotStringMessage =
    "Couldn't assign value to '%1' because the input is not a string.";
constexpr std::string_view kNotEnumValueMessage =
    "%1 is not a valid %2 enumeration value for '%3'.";
constexpr std::string_view kEnumInvalidTypeMessage =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
constexpr std::string_view kUnregisteredEnumMessage =
    "Couldn't assign value to '%1' because its enumeration type is not registered.";
constexpr std::string_view kNotCollectionMessage =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
constexpr std::string_view kMapNotStructureMessage =
    "Couldn't assign value to '%1' of type map because the input not a structure.";
constexpr std::string_view kNotBlobMessage =
    "Couldn't assign value to '%1' of type blob because the input not a blob.";
constexpr std::string_view kUnregisteredStructMessage =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
constexpr std::string_view kNotStructureMessage =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
constexpr std::string_view kMissingFieldMessage =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";
constexpr std::string_view kProduceUnregisteredMessage =
    "Couldn't convert native value because it's an unregistered structure.";

void Fail(BindingConversionResult& result, std::string_view format,
          std::initializer_list<FormatArgument> arguments) {
  fail(result, FormatPositional(format, arguments));
}

std::string_view KindName(const BindingValue& value) { return BindingValueKindName(value.kind()); }

// `integer` as the nearest double, rounded through memory: on 32-bit x86 the x87 unit may keep
// a cast in 80 bits, where INT64_MAX is exact and a double of 2^63 compares above it, so that a
// bound test would answer differently than on every other machine.
template <typename Integer>
double NearestDouble(Integer integer) {
  volatile double nearest = static_cast<double>(integer);
  return nearest;
}

// The largest double not above 2^63 and 2^64: truncating a double that passed the bound test
// against such a maximum must not overflow.
template <typename Integer>
Integer TruncateClamped(double number) {
  constexpr double kLimit = static_cast<double>(std::numeric_limits<Integer>::max());
  if (number >= kLimit) return std::numeric_limits<Integer>::max();
  return static_cast<Integer>(number);
}

}  // namespace

void FailRequired(BindingConversionResult& result, std::string_view name) {
  Fail(result, kRequiredMessage, {name});
}

void AssignBool(BindingConversionResult& result, bool& member, const BindingValue& input,
                std::string_view name) {
  if (!result.ok) return;
  member = false;
  switch (input.kind()) {
    case BindingValueKind::kEmpty:
      FailRequired(result, name);
      return;
    case BindingValueKind::kBool:
      member = input.getBool();
      return;
    case BindingValueKind::kString: {
      std::string_view text = input.getString();
      if (text == "1" || text == "true") {
        member = true;
      } else if (text != "0" && text != "false") {
        Fail(result, kBoolFormatMessage, {text, name});
      }
      return;
    }
    default:
      Fail(result, kBoolInvalidTypeMessage, {name, KindName(input)});
      return;
  }
}

std::int64_t AssignSignedInteger(BindingConversionResult& result, const BindingValue& input,
                                 std::string_view name, std::int64_t min, std::int64_t max,
                                 std::string_view type_name) {
  if (!result.ok) return 0;
  switch (input.kind()) {
    case BindingValueKind::kEmpty:
      FailRequired(result, name);
      return 0;
    case BindingValueKind::kSigned: {
      std::int64_t number = input.getSigned();
      if (number >= min && number <= max) return number;
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    case BindingValueKind::kUnsigned: {
      std::uint64_t number = input.getUnsigned();
      if (number <= static_cast<std::uint64_t>(max)) return static_cast<std::int64_t>(number);
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    case BindingValueKind::kFloat: {
      double number = input.getFloat();
      if (number >= NearestDouble(min) && number <= NearestDouble(max)) {
        return TruncateClamped<std::int64_t>(number);
      }
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    case BindingValueKind::kString: {
      std::string_view text = input.getString();
      char* end = nullptr;
      errno = 0;
      long long number = std::strtoll(text.data(), &end, 0);
      if (*end != '\0') {
        Fail(result, kFormatMessage, {text, name, type_name});
      } else if (errno == ERANGE || number < min || number > max) {
        Fail(result, kRangeMessage, {text, name, type_name});
      } else {
        return number;
      }
      return 0;
    }
    case BindingValueKind::kEnum: {
      std::int32_t number = input.getEnum().value;
      if (number >= min && number <= max) return number;
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    default:
      Fail(result, kInvalidTypeMessage, {name, type_name, KindName(input)});
      return 0;
  }
}

std::uint64_t AssignUnsignedInteger(BindingConversionResult& result, const BindingValue& input,
                                    std::string_view name, std::uint64_t max,
                                    std::string_view type_name) {
  if (!result.ok) return 0;
  switch (input.kind()) {
    case BindingValueKind::kEmpty:
      FailRequired(result, name);
      return 0;
    case BindingValueKind::kSigned: {
      std::int64_t number = input.getSigned();
      if (number >= 0 && static_cast<std::uint64_t>(number) <= max) {
        return static_cast<std::uint64_t>(number);
      }
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    case BindingValueKind::kUnsigned: {
      std::uint64_t number = input.getUnsigned();
      if (number <= max) return number;
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    case BindingValueKind::kFloat: {
      double number = input.getFloat();
      if (number >= 0.0 && number <= NearestDouble(max)) {
        return TruncateClamped<std::uint64_t>(number);
      }
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    case BindingValueKind::kString: {
      std::string_view text = input.getString();
      char* end = nullptr;
      errno = 0;
      unsigned long long number = std::strtoull(text.data(), &end, 0);
      if (*end != '\0') {
        Fail(result, kFormatMessage, {text, name, type_name});
      } else if (errno == ERANGE || number > max || (!text.empty() && text[0] == '-')) {
        // strtoull accepts a sign and negates; a negative text is no unsigned number.
        Fail(result, kRangeMessage, {text, name, type_name});
      } else {
        return number;
      }
      return 0;
    }
    case BindingValueKind::kEnum: {
      std::int32_t number = input.getEnum().value;
      if (number >= 0 && static_cast<std::uint64_t>(number) <= max) {
        return static_cast<std::uint64_t>(number);
      }
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0;
    }
    default:
      Fail(result, kInvalidTypeMessage, {name, type_name, KindName(input)});
      return 0;
  }
}

double AssignFloatingPoint(BindingConversionResult& result, const BindingValue& input,
                           std::string_view name, double min, double max,
                           std::string_view type_name) {
  if (!result.ok) return 0.0;
  switch (input.kind()) {
    case BindingValueKind::kEmpty:
      FailRequired(result, name);
      return 0.0;
    case BindingValueKind::kFloat: {
      double number = input.getFloat();
      // Written as "not outside" so that a NaN passes.
      if (!(number < min) && !(number > max)) return number;
      Fail(result, kRangeMessage, {number, name, type_name});
      return 0.0;
    }
    // Both floating-point ranges exceed every 64-bit integer, so integers always fit.
    case BindingValueKind::kSigned:
      return static_cast<double>(input.getSigned());
    case BindingValueKind::kUnsigned:
      return static_cast<double>(input.getUnsigned());
    case BindingValueKind::kEnum:
      return static_cast<double>(input.getEnum().value);
    case BindingValueKind::kString: {
      std::string_view text = input.getString();
      char* end = nullptr;
      errno = 0;
      double number = std::strtod(text.data(), &end);
      if (*end != '\0') {
        Fail(result, kFormatMessage, {text, name, type_name});
      } else if (errno == ERANGE || number < min || number > max) {
        Fail(result, kRangeMessage, {text, name, type_name});
      } else {
        return number;
      }
      return 0.0;
    }
    default:
      Fail(result, kInvalidTypeMessage, {name, type_name, KindName(input)});
      return 0.0;
  }
}

void AssignString(BindingConversionResult& result, std::string& member, const BindingValue& input,
                  std::string_view name, const BindingTypeRegistry& registry) {
  if (!result.ok) return;
  switch (input.kind()) {
    case BindingValueKind::kEmpty:
      member.clear();
      FailRequired(result, name);
      return;
    case BindingValueKind::kString:
      member.assign(input.getString());
      return;
    case BindingValueKind::kEnum: {
      BindingEnumPair pair = input.getEnum();
      const BindingTypeDescriptor* descriptor =
          pair.type != nullptr ? registry.findType(pair.type->id()) : nullptr;
      const BindingEnumValue* enumerator =
          descriptor != nullptr ? descriptor->findEnumValue(pair.value) : nullptr;
      if (enumerator != nullptr) {
        member = enumerator->name;
      } else {
        member.clear();
        Fail(result, kNotEnumeratorMessage, {pair.value, name});
      }
      return;
    }
    default:
      member.clear();
      Fail(result, kNotStringMessage, {name});
      return;
  }
}

void AssignOptionalText(BindingConversionResult& result, std::optional<std::string>& member,
                        const BindingValue& input, std::string_view name,
                        const BindingTypeRegistry& registry) {
  if (!result.ok) return;
  if (input.isEmpty()) {
    member.reset();
    return;
  }
  std::string text;
  AssignString(result, text, input, name, registry);
  if (result.ok) {
    member = std::move(text);
  } else {
    member.reset();
  }
}

void AssignBlob(BindingConversionResult& result, std::vector<std::uint8_t>& member,
                const BindingValue& input, std::string_view name) {
  if (!result.ok) return;
  if (input.kind() == BindingValueKind::kBlob) {
    member = input.getBlob();
    return;
  }
  member.clear();
  if (input.isEmpty()) {
    FailRequired(result, name);
  } else {
    Fail(result, kNotBlobMessage, {name});
  }
}

void AssignObject(BindingConversionResult& result, BindingValue& member,
                  const BindingValue& input) {
  member.clear();
  if (result.ok) member = input;
}

void AssignEnumValue(BindingConversionResult& result, std::int32_t& member,
                     const BindingValue& input, std::string_view name,
                     const BindingTypeDescriptor* descriptor) {
  if (!result.ok) return;
  if (input.isEmpty()) {
    FailRequired(result, name);
    return;
  }
  if (descriptor == nullptr) {
    Fail(result, kUnregisteredEnumMessage, {name});
    return;
  }
  std::string_view enum_name = descriptor->name;
  switch (input.kind()) {
    case BindingValueKind::kSigned: {
      std::int64_t number = input.getSigned();
      if (number >= std::numeric_limits<std::int32_t>::min() &&
          number <= std::numeric_limits<std::int32_t>::max() &&
          descriptor->findEnumValue(static_cast<std::int32_t>(number)) != nullptr) {
        member = static_cast<std::int32_t>(number);
      } else {
        Fail(result, kNotEnumValueMessage, {number, enum_name, name});
      }
      return;
    }
    case BindingValueKind::kUnsigned: {
      std::uint64_t number = input.getUnsigned();
      if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) &&
          descriptor->findEnumValue(static_cast<std::int32_t>(number)) != nullptr) {
        member = static_cast<std::int32_t>(number);
      } else {
        Fail(result, kNotEnumValueMessage, {number, enum_name, name});
      }
      return;
    }
    case BindingValueKind::kString: {
      std::string_view text = input.getString();
      if (const BindingEnumValue* enumerator = descriptor->findEnumValue(text)) {
        member = enumerator->value;
        return;
      }
      // A number in text form names the enumerator of that value; the parse's own message is
      // replaced by the enumeration one.
      BindingConversionResult parse;
      std::int64_t number =
          AssignSignedInteger(parse, input, name, std::numeric_limits<std::int32_t>::min(),
                              std::numeric_limits<std::int32_t>::max(), enum_name);
      if (parse.ok && descriptor->findEnumValue(static_cast<std::int32_t>(number)) != nullptr) {
        member = static_cast<std::int32_t>(number);
      } else {
        Fail(result, kNotEnumValueMessage, {text, enum_name, name});
      }
      return;
    }
    case BindingValueKind::kEnum: {
      std::int32_t number = input.getEnum().value;
      if (descriptor->findEnumValue(number) != nullptr) {
        member = number;
      } else {
        Fail(result, kNotEnumValueMessage, {number, enum_name, name});
      }
      return;
    }
    default:
      Fail(result, kEnumInvalidTypeMessage, {name, KindName(input)});
      return;
  }
}

void AssignStruct(BindingConversionResult& result, void* record, const BindingValue& input,
                  std::string_view name, const BindingTypeDescriptor* descriptor,
                  const BindingTypeRegistry& registry) {
  // A missing input is tested by the caller that owns the member (struct field, vector
  // element, argument); here it is one more value that is not a structure.
  if (!result.ok) return;
  if (descriptor == nullptr) {
    Fail(result, kUnregisteredStructMessage, {name});
    return;
  }
  if (!input.isStructure()) {
    Fail(result, kNotStructureMessage, {name, std::string_view(descriptor->name)});
    return;
  }
  auto* bytes = static_cast<std::byte*>(record);
  for (const BindingFieldDescriptor& field : descriptor->fields) {
    if (!result.ok) return;
    const BindingValue& value = input.field(field.name);
    if (!value.isEmpty()) {
      field.converter->Assign(result, bytes + field.offset, value, field.name, field.type,
                              registry);
    } else if ((field.flags & kRequired) != 0) {
      Fail(result, kMissingFieldMessage,
           {name, std::string_view(descriptor->name), std::string_view(field.name)});
    }
  }
}

bool CheckVectorInput(BindingConversionResult& result, const BindingValue& input,
                      std::string_view name) {
  if (!result.ok) return false;
  if (input.isCollection()) return true;
  Fail(result, kNotCollectionMessage, {name});
  return false;
}

bool CheckMapInput(BindingConversionResult& result, const BindingValue& input,
                   std::string_view name) {
  if (!result.ok) return false;
  if (input.isStructure()) return true;
  Fail(result, kMapNotStructureMessage, {name});
  return false;
}

void ProduceStruct(BindingConversionResult& result, BindingValue& target, const void* record,
                   const BindingTypeDescriptor* descriptor, const BindingTypeRegistry& registry) {
  if (!result.ok) return;
  if (descriptor == nullptr) {
    fail(result, kProduceUnregisteredMessage);
    return;
  }
  // A structure even without fields: callers tell "no fields" from "no value".
  target.reserveFields(descriptor->fields.size());
  const auto* bytes = static_cast<const std::byte*>(record);
  for (const BindingFieldDescriptor& field : descriptor->fields) {
    BindingValue& slot = target.fieldForWrite(field.name);
    field.converter->Produce(result, slot, bytes + field.offset, field.type, registry);
    if (!result.ok) return;
    if ((field.flags & kOmitWhenDefault) != 0 && IsDefaultValue(slot)) {
      target.removeField(field.name);
    }
  }
}

bool IsDefaultValue(const BindingValue& value) {
  switch (value.kind()) {
    case BindingValueKind::kEmpty:
      return true;
    case BindingValueKind::kBool:
      return !value.getBool();
    case BindingValueKind::kSigned:
      return value.getSigned() == 0;
    case BindingValueKind::kUnsigned:
      return value.getUnsigned() == 0;
    case BindingValueKind::kFloat:
      return value.getFloat() == 0.0;
    case BindingValueKind::kEnum:
      return value.getEnum().value == 0;
    default:
      return value.size() == 0;
  }
}

BindingConversionResult toValue(const void* record, const BindingStaticType& static_type,
                                const BindingTypeRegistry& registry) {
  BindingConversionResult result;
  ProduceStruct(result, result.value, record, registry.findType(static_type.id()), registry);
  return result;
}

BindingConversionResult fromValue(const BindingValue& value, void* record,
                                  const BindingStaticType& static_type,
                                  const BindingTypeRegistry& registry, std::string_view name) {
  BindingConversionResult result;
  AssignStruct(result, record, value, name, registry.findType(static_type.id()), registry);
  return result;
}

}  // namespace binding
