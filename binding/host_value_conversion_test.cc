#include "binding/host_value_conversion.h"

#include <cstring>
#include <string>
#include <vector>

#include "binding/binding_struct_builder.h"
#include "gtest/gtest.h"

namespace host_value_test {
enum class Mode : std::int32_t { kOff = 0, kOn = 1 };
ULIX_BINDING_TYPE(Mode, "Mode")
}  // namespace host_value_test

namespace binding {
namespace {

using host_value_test::Mode;

// Packed records are read through copies.
HostValue ItemAt(const HostValue& array, std::uint32_t index) {
  HostValue item;
  std::memcpy(&item, &array.payload.array.items[index], sizeof(HostValue));
  return item;
}

HostObjectEntry EntryAt(const HostValue& object, std::uint32_t index) {
  HostObjectEntry entry;
  std::memcpy(&entry, &object.payload.object.entries[index], sizeof(HostObjectEntry));
  return entry;
}

HostValue ValueOf(const HostObjectEntry& entry) {
  HostValue value;
  std::memcpy(&value, reinterpret_cast<const std::byte*>(&entry) + offsetof(HostObjectEntry, value),
              sizeof(HostValue));
  return value;
}

HostValue Text(const char* text) {
  HostValue value{};
  value.kind = kHostValueText;
  value.payload.text.data = text;
  value.payload.text.length = static_cast<std::uint32_t>(std::strlen(text));
  return value;
}

TEST(ToHostValue, WritesEveryKindWithCopiesTheRecordOwns) {
  BindingTypeRegistry registry;
  BindingEnumBuilder<Mode>(registry).AddValue(Mode::kOn, "On");
  BindingValue value;
  value.fieldForWrite("b").setBool(true);
  value.fieldForWrite("s").setSigned(-5);
  value.fieldForWrite("u").setUnsigned(5);
  value.fieldForWrite("f").setFloat(0.5);
  value.fieldForWrite("t").setString("text");
  value.fieldForWrite("x").setBlob(std::vector<std::uint8_t>{1, 2, 3});
  value.fieldForWrite("e").setEnum(1, &BindingStaticTypeOf<Mode>());
  value.fieldForWrite("n").setEnum(7, &BindingStaticTypeOf<Mode>());
  value.fieldForWrite("a").appendElement();
  value.fieldForWrite("a").appendElement().setString("item");

  HostValue record = toHostValue(value, &registry);
  ASSERT_EQ(+record.kind, static_cast<std::uint32_t>(kHostValueObject));
  ASSERT_EQ(+record.payload.object.count, 9u);
  std::vector<std::string> keys;
  for (std::uint32_t i = 0; i < 9; ++i) {
    HostObjectEntry entry = EntryAt(record, i);
    keys.emplace_back(entry.key);
    EXPECT_EQ(+entry.present, 1);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "e", "f", "n", "s", "t", "u", "x"}));
  HostValue array = ValueOf(EntryAt(record, 0));
  ASSERT_EQ(+array.kind, static_cast<std::uint32_t>(kHostValueArray));
  ASSERT_EQ(+array.payload.array.count, 2u);
  EXPECT_EQ(+ItemAt(array, 0).kind, static_cast<std::uint32_t>(kHostValueNone));
  EXPECT_STREQ(ItemAt(array, 1).payload.text.data, "item");
  EXPECT_EQ(+ValueOf(EntryAt(record, 1)).payload.boolean, 1);
  HostValue named = ValueOf(EntryAt(record, 2));
  EXPECT_EQ(+named.kind, static_cast<std::uint32_t>(kHostValueOwnedText));
  EXPECT_STREQ(named.payload.text.data, "On");
  HostValue number = ValueOf(EntryAt(record, 4));
  EXPECT_EQ(+number.kind, static_cast<std::uint32_t>(kHostValueSigned));
  EXPECT_EQ(+number.payload.int64, 7);
  HostValue text = ValueOf(EntryAt(record, 6));
  EXPECT_EQ(+text.payload.text.length, 4u);
  EXPECT_STREQ(text.payload.text.data, "text");
  EXPECT_NE(+text.payload.text.data, value.field("t").getString().data());
  HostValue bytes = ValueOf(EntryAt(record, 8));
  EXPECT_EQ(+bytes.kind, static_cast<std::uint32_t>(kHostValueOwnedBytes));
  EXPECT_EQ(+bytes.payload.bytes.length, 3u);
  EXPECT_EQ(bytes.payload.bytes.data[2], 3);

  ReleaseHostValue(record);
  EXPECT_EQ(+record.kind, static_cast<std::uint32_t>(kHostValueNone));

  // Without a registry enums travel as numbers.
  record = toHostValue(value, nullptr);
  named = ValueOf(EntryAt(record, 2));
  EXPECT_EQ(+named.kind, static_cast<std::uint32_t>(kHostValueSigned));
  EXPECT_EQ(+named.payload.int64, 1);
  ReleaseHostValue(record);
}

TEST(FromHostValue, ReadsTheRecordsThePlugInWritesBackIntoTheSameTree) {
  BindingValue value;
  value.fieldForWrite("list").appendElement().setFloat(2.5);
  value.fieldForWrite("list").appendElement().setUnsigned(9);
  value.fieldForWrite("list").appendElement();
  value.fieldForWrite("blob").setBlob(std::vector<std::uint8_t>{0, 255});
  value.fieldForWrite("flag").setBool(false);
  value.fieldForWrite("none");
  HostValue record = toHostValue(value, nullptr);
  BindingConversionResult result = fromHostValue(record, "x");
  EXPECT_EQ(result.ok, 1);
  EXPECT_TRUE(result.value == value);
  ReleaseHostValue(record);
}

TEST(FromHostValue, ReadsTextsUpToTheNulAndKeepsTheLastOfRepeatedKeys) {
  HostObjectEntry entries[2] = {};
  entries[0].key = "k";
  entries[1].key = "k";
  HostValue first = Text("first");
  HostValue second = Text("sec\0ond");
  second.payload.text.length = 7;
  std::memcpy(reinterpret_cast<std::byte*>(&entries[0]) + offsetof(HostObjectEntry, value), &first,
              sizeof(HostValue));
  std::memcpy(reinterpret_cast<std::byte*>(&entries[1]) + offsetof(HostObjectEntry, value), &second,
              sizeof(HostValue));
  HostValue object{};
  object.kind = kHostValueObject;
  object.payload.object.entries = entries;
  object.payload.object.count = 2;
  BindingConversionResult result = fromHostValue(object, "x");
  EXPECT_EQ(result.value.size(), 1u);
  EXPECT_EQ(result.value.field("k").getString(), "sec");
}

struct ReleaseLog {
  int calls = 0;
};
ReleaseLog* g_release_log = nullptr;

void HostRelease(HostResponse* response) {
  ++g_release_log->calls;
  response->text = nullptr;
}

TEST(FromHostValue, AnUnknownKindFailsAndTurnsAGivenResponseIntoAnError) {
  ReleaseLog log;
  g_release_log = &log;
  HostValue items[2] = {};
  items[0].kind = kHostValueSigned;
  items[1].kind = 11;
  HostResponse response{};
  response.value.kind = kHostValueArray;
  response.value.payload.array.items = items;
  response.value.payload.array.count = 2;
  response.text = "host text";
  response.release = &HostRelease;

  const char* expected =
      "Couldn't assign value to '<result>' of type object because the input is of an "
      "incompatible type ''.";
  HostValue value;
  std::memcpy(&value, &response.value, sizeof(HostValue));
  EXPECT_EQ(errorText(fromHostValue(value, "<result>")), expected);  // without a response
  EXPECT_EQ(log.calls, 0);
  BindingConversionResult result = fromHostValue(value, "<result>", &response);
  EXPECT_EQ(result.ok, 0);
  EXPECT_EQ(errorText(result), expected);
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(+response.text, nullptr);
  EXPECT_STREQ(response.errorText, expected);
  EXPECT_EQ(+response.errorFlag, 1);
  EXPECT_EQ(+response.value.kind, static_cast<std::uint32_t>(kHostValueNone));
  ASSERT_NE(+response.release, nullptr);
  response.release(&response);
  EXPECT_EQ(+response.errorText, nullptr);
  EXPECT_EQ(log.calls, 1);
}

}  // namespace
}  // namespace binding
