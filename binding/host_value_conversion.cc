#include "binding/host_value_conversion.h"

#include <cstring>

#include "logging/positional_formatter.h"

namespace binding {
namespace {

// Only kinds above the last one the host defines are refused, and those have no name.
constexpr std::string_view kIncompatibleTypeMessage =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type "
    "''.";

// Records are packed, so their members are read and written through copies, never references.
bool ReadHostValue(BindingConversionResult& result, BindingValue& target, const HostValue& record,
                   std::string_view name) {
  switch (record.kind) {
    case kHostValueNone:
      target.clear();
      return true;
    case kHostValueBool:
      target.setBool(record.payload.boolean != 0);
      return true;
    case kHostValueSigned:
      target.setSigned(record.payload.int64);
      return true;
    case kHostValueUnsigned:
      target.setUnsigned(record.payload.uint64);
      return true;
    case kHostValueDouble:
      target.setFloat(record.payload.float64);
      return true;
    case kHostValueText:
    case kHostValueOwnedText: {
      const char* data = record.payload.text.data;
      target.setString(data != nullptr ? std::string_view(data) : std::string_view());
      return true;
    }
    case kHostValueBytes:
    case kHostValueOwnedBytes: {
      const std::uint8_t* data = record.payload.bytes.data;
      std::uint32_t length = record.payload.bytes.length;
      target.setBlob(std::span<const std::uint8_t>(data, data != nullptr ? length : 0));
      return true;
    }
    case kHostValueArray: {
      const HostValue* items = record.payload.array.items;
      std::uint32_t count = items != nullptr ? record.payload.array.count : 0;
      target.reserve(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        HostValue item;
        std::memcpy(&item, &items[i], sizeof(HostValue));
        if (!ReadHostValue(result, target.appendElement(), item, name)) return false;
      }
      return true;
    }
    case kHostValueObject: {
      const HostObjectEntry* entries = record.payload.object.entries;
      std::uint32_t count = entries != nullptr ? record.payload.object.count : 0;
      target.reserveFields(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        HostObjectEntry entry;
        std::memcpy(&entry, &entries[i], sizeof(HostObjectEntry));
        HostValue value;
        std::memcpy(
            &value,
            reinterpret_cast<const std::byte*>(&entries[i]) + offsetof(HostObjectEntry, value),
            sizeof(HostValue));
        std::string_view key = entry.key != nullptr ? std::string_view(entry.key) : "";
        if (!ReadHostValue(result, target.fieldForWrite(key), value, name)) return false;
      }
      return true;
    }
    default:
      fail(result, logging::FormatPositional(kIncompatibleTypeMessage, {name}));
      return false;
  }
}

HostValue MakeText(std::string_view text) {
  HostValue record{};
  record.kind = kHostValueOwnedText;
  record.payload.text.data = CopyHostText(text);
  record.payload.text.length = static_cast<std::uint32_t>(text.size());
  return record;
}

}  // namespace

char* CopyHostText(std::string_view text) {
  char* copy = new char[text.size() + 1];
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

BindingConversionResult fromHostValue(const HostValue& record, std::string_view name,
                                      HostResponse* response) {
  BindingConversionResult result;
  HostValue copy;
  std::memcpy(&copy, &record, sizeof(HostValue));
  if (!ReadHostValue(result, result.value, copy, name) && response != nullptr) {
    FailHostResponse(*response, errorText(result));
  }
  return result;
}

HostValue toHostValue(const BindingValue& value, const BindingTypeRegistry* registry) {
  HostValue record{};
  switch (value.kind()) {
    case BindingValueKind::kEmpty:
      record.kind = kHostValueNone;
      break;
    case BindingValueKind::kBool:
      record.kind = kHostValueBool;
      record.payload.boolean = value.getBool() ? 1 : 0;
      break;
    case BindingValueKind::kSigned:
      record.kind = kHostValueSigned;
      record.payload.int64 = value.getSigned();
      break;
    case BindingValueKind::kUnsigned:
      record.kind = kHostValueUnsigned;
      record.payload.uint64 = value.getUnsigned();
      break;
    case BindingValueKind::kFloat:
      record.kind = kHostValueDouble;
      record.payload.float64 = value.getFloat();
      break;
    case BindingValueKind::kString:
      record = MakeText(value.getString());
      break;
    case BindingValueKind::kBlob: {
      const std::vector<std::uint8_t>& blob = value.getBlob();
      auto* bytes = new std::uint8_t[blob.size() == 0 ? 1 : blob.size()];
      if (!blob.empty()) std::memcpy(bytes, blob.data(), blob.size());
      record.kind = kHostValueOwnedBytes;
      record.payload.bytes.data = bytes;
      record.payload.bytes.length = static_cast<std::uint32_t>(blob.size());
      break;
    }
    case BindingValueKind::kEnum: {
      BindingEnumPair pair = value.getEnum();
      const BindingTypeDescriptor* descriptor = registry != nullptr && pair.type != nullptr
                                                    ? registry->findType(pair.type->id())
                                                    : nullptr;
      const BindingEnumValue* enumerator =
          descriptor != nullptr ? descriptor->findEnumValue(pair.value) : nullptr;
      if (enumerator != nullptr) {
        record = MakeText(enumerator->name);
      } else {
        record.kind = kHostValueSigned;
        record.payload.int64 = pair.value;
      }
      break;
    }
    case BindingValueKind::kCollection: {
      std::span<const BindingValue> elements = value.elements();
      auto* items = new HostValue[elements.size() == 0 ? 1 : elements.size()];
      for (std::size_t i = 0; i < elements.size(); ++i) {
        HostValue item = toHostValue(elements[i], registry);
        std::memcpy(&items[i], &item, sizeof(HostValue));
      }
      record.kind = kHostValueArray;
      record.payload.array.items = items;
      record.payload.array.count = static_cast<std::uint32_t>(elements.size());
      break;
    }
    case BindingValueKind::kStructure: {
      std::span<const BindingStructureEntry> fields = value.fields();
      auto* entries = new HostObjectEntry[fields.size() == 0 ? 1 : fields.size()];
      for (std::size_t i = 0; i < fields.size(); ++i) {
        HostObjectEntry entry{};
        entry.key = CopyHostText(fields[i].key());
        HostValue item = toHostValue(fields[i].value(), registry);
        std::memcpy(reinterpret_cast<std::byte*>(&entry) + offsetof(HostObjectEntry, value), &item,
                    sizeof(HostValue));
        entry.present = 1;
        std::memcpy(&entries[i], &entry, sizeof(HostObjectEntry));
      }
      record.kind = kHostValueObject;
      record.payload.object.entries = entries;
      record.payload.object.count = static_cast<std::uint32_t>(fields.size());
      break;
    }
  }
  return record;
}

void ReleaseHostValue(HostValue& record) {
  switch (record.kind) {
    case kHostValueText:
    case kHostValueOwnedText:
      delete[] record.payload.text.data;
      break;
    case kHostValueBytes:
    case kHostValueOwnedBytes:
      delete[] record.payload.bytes.data;
      break;
    case kHostValueArray: {
      HostValue* items = record.payload.array.items;
      for (std::uint32_t i = 0; i < record.payload.array.count; ++i) {
        HostValue item;
        std::memcpy(&item, &items[i], sizeof(HostValue));
        ReleaseHostValue(item);
      }
      delete[] items;
      break;
    }
    case kHostValueObject: {
      HostObjectEntry* entries = record.payload.object.entries;
      for (std::uint32_t i = 0; i < record.payload.object.count; ++i) {
        HostObjectEntry entry;
        std::memcpy(&entry, &entries[i], sizeof(HostObjectEntry));
        delete[] entry.key;
        HostValue item;
        std::memcpy(
            &item,
            reinterpret_cast<const std::byte*>(&entries[i]) + offsetof(HostObjectEntry, value),
            sizeof(HostValue));
        ReleaseHostValue(item);
      }
      delete[] entries;
      break;
    }
    default:
      break;
  }
  HostValue none{};
  std::memcpy(&record, &none, sizeof(HostValue));
}

void ReleasePluginResponse(HostResponse* response) {
  if (response == nullptr) return;
  HostValue value;
  std::memcpy(&value, &response->value, sizeof(HostValue));
  ReleaseHostValue(value);
  std::memcpy(&response->value, &value, sizeof(HostValue));
  delete[] response->errorText;
  response->errorText = nullptr;
}

void FailHostResponse(HostResponse& response, std::string_view message) {
  // Copied first: the message may be text the release is about to free.
  char* text = CopyHostText(message);
  if (response.release != nullptr) response.release(&response);
  HostValue none{};
  std::memcpy(&response.value, &none, sizeof(HostValue));
  response.errorText = text;
  response.errorFlag = 1;
  response.release = &ReleasePluginResponse;
}

}  // namespace binding
