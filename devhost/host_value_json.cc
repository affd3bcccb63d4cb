#include "devhost/host_value_json.h"

#include <cstring>

#include "rapidjson/error/en.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "wire/base64.h"

namespace devhost {
namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void Write(JsonWriter& writer, const HostValue& packed, int depth) {
  // Records are packed: members are read through a copy, never through misaligned references.
  HostValue value;
  std::memcpy(&value, &packed, sizeof value);
  if (depth > 64) {  // a cycle or a runaway tree: stop rather than overflow the stack
    writer.Null();
    return;
  }
  switch (value.kind) {
    case kHostValueBool:
      writer.Bool(value.payload.boolean != 0);
      return;
    case kHostValueSigned:
      writer.Int64(value.payload.int64);
      return;
    case kHostValueUnsigned:
      writer.Uint64(value.payload.uint64);
      return;
    case kHostValueDouble:
      writer.Double(value.payload.float64);
      return;
    case kHostValueText:
    case kHostValueOwnedText: {
      const char* data = value.payload.text.data;
      if (data == nullptr) {
        writer.String("", 0);
        return;
      }
      const std::uint32_t length =
          value.payload.text.length != 0 ? value.payload.text.length : std::strlen(data);
      writer.String(data, length);
      return;
    }
    case kHostValueBytes:
    case kHostValueOwnedBytes: {
      const auto* data = reinterpret_cast<const char*>(value.payload.bytes.data);
      const std::string encoded = wire::Base64Encode(
          data != nullptr ? std::string_view(data, value.payload.bytes.length) : "");
      writer.String(encoded.data(), static_cast<rapidjson::SizeType>(encoded.size()));
      return;
    }
    case kHostValueArray:
      writer.StartArray();
      for (std::uint32_t i = 0; i < value.payload.array.count; ++i) {
        Write(writer, value.payload.array.items[i], depth + 1);
      }
      writer.EndArray();
      return;
    case kHostValueObject:
      writer.StartObject();
      for (std::uint32_t i = 0; i < value.payload.object.count; ++i) {
        HostObjectEntry entry;
        std::memcpy(&entry, &value.payload.object.entries[i], sizeof entry);
        if (entry.present == 0) continue;
        writer.Key(entry.key != nullptr ? entry.key : "");
        Write(writer, entry.value, depth + 1);
      }
      writer.EndObject();
      return;
    default:
      writer.Null();
      return;
  }
}

}  // namespace

std::string HostValueToJson(const HostValue& record) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  Write(writer, record, 0);
  return std::string(buffer.GetString(), buffer.GetSize());
}

OwnedHostValue::OwnedHostValue() : storage_(std::make_unique<Storage>()) {}

OwnedHostValue OwnedHostValue::FromJson(const rapidjson::Value& json) {
  OwnedHostValue owned;
  owned.root_ = owned.Build(json);
  return owned;
}

std::optional<OwnedHostValue> OwnedHostValue::ParseJson(std::string_view json, std::string& error) {
  rapidjson::Document document;
  document.Parse(json.data(), json.size());
  if (document.HasParseError()) {
    error = std::string(rapidjson::GetParseError_En(document.GetParseError())) + " at offset " +
            std::to_string(document.GetErrorOffset());
    return std::nullopt;
  }
  return FromJson(document);
}

OwnedHostValue OwnedHostValue::TextList(const std::vector<std::string>& texts) {
  OwnedHostValue owned;
  auto& items = owned.storage_->values.emplace_back(texts.size() + 1);
  for (std::size_t i = 0; i < texts.size(); ++i) items[i] = owned.Text(texts[i]);
  owned.root_.kind = kHostValueArray;
  owned.root_.payload.array.items = items.data();
  owned.root_.payload.array.count = static_cast<std::uint32_t>(texts.size());
  return owned;
}

OwnedHostValue OwnedHostValue::TextObject(
    const std::vector<std::pair<std::string, std::string>>& members) {
  OwnedHostValue owned;
  auto& entries = owned.storage_->entries.emplace_back(members.size() + 1);
  for (std::size_t i = 0; i < members.size(); ++i) {
    HostObjectEntry entry{};
    entry.key = owned.storage_->texts.emplace_back(members[i].first).c_str();
    entry.value = owned.Text(members[i].second);
    entry.present = 1;
    std::memcpy(&entries[i], &entry, sizeof entry);
  }
  owned.root_.kind = kHostValueObject;
  owned.root_.payload.object.entries = entries.data();
  owned.root_.payload.object.count = static_cast<std::uint32_t>(members.size());
  return owned;
}

HostValue OwnedHostValue::Text(std::string text) {
  const std::string& kept = storage_->texts.emplace_back(std::move(text));
  HostValue record{};
  record.kind = kHostValueText;
  record.payload.text.data = kept.c_str();
  record.payload.text.length = static_cast<std::uint32_t>(kept.size());
  return record;
}

HostValue OwnedHostValue::Build(const rapidjson::Value& json) {
  HostValue record{};
  switch (json.GetType()) {
    case rapidjson::kNullType:
      break;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      record.kind = kHostValueBool;
      record.payload.boolean = json.GetBool() ? 1 : 0;
      break;
    case rapidjson::kNumberType:
      if (json.IsUint64()) {
        record.kind = kHostValueUnsigned;
        record.payload.uint64 = json.GetUint64();
      } else if (json.IsInt64()) {
        record.kind = kHostValueSigned;
        record.payload.int64 = json.GetInt64();
      } else {
        record.kind = kHostValueDouble;
        record.payload.float64 = json.GetDouble();
      }
      break;
    case rapidjson::kStringType:
      return Text(std::string(json.GetString(), json.GetStringLength()));
    case rapidjson::kArrayType: {
      // One spare slot so that an empty array still has an address.
      auto& items = storage_->values.emplace_back(json.Size() + 1);
      for (rapidjson::SizeType i = 0; i < json.Size(); ++i) {
        const HostValue item = Build(json[i]);
        std::memcpy(&items[i], &item, sizeof item);
      }
      record.kind = kHostValueArray;
      record.payload.array.items = items.data();
      record.payload.array.count = json.Size();
      break;
    }
    case rapidjson::kObjectType: {
      auto& entries = storage_->entries.emplace_back(json.MemberCount() + 1);
      std::size_t i = 0;
      for (const auto& member : json.GetObject()) {
        HostObjectEntry entry{};
        entry.key =
            storage_->texts.emplace_back(member.name.GetString(), member.name.GetStringLength())
                .c_str();
        entry.value = Build(member.value);
        entry.present = 1;
        std::memcpy(&entries[i++], &entry, sizeof entry);
      }
      record.kind = kHostValueObject;
      record.payload.object.entries = entries.data();
      record.payload.object.count = json.MemberCount();
      break;
    }
  }
  return record;
}

}  // namespace devhost
