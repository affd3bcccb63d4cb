#include "binding/host_value_conversion.h"

#include <string>
#include <vector>

#include "binding/binding_struct_builder.h"
#include "binding/json_bridge.h"
#include "gtest/gtest.h"
#include "testing/value_builders.h"

namespace host_value_test {
enum class Mode : std::int32_t { kOff = 0, kOn = 1 };
ULIX_BINDING_TYPE(Mode, "Mode")
}  // namespace host_value_test

namespace binding {
namespace {

using host_value_test::Mode;
using ulix_testing::List;
using ulix_testing::Map;

TEST(ToHostValue, WritesEveryKindWithCopiesTheRecordOwnsAndReadsItBack) {
  BindingTypeRegistry registry;
  BindingEnumBuilder<Mode>(registry).AddValue(Mode::kOn, "On");
  BindingValue value = Map({{"b", BindingValue(true)},
                            {"s", BindingValue(std::int64_t{-5})},
                            {"u", BindingValue(std::uint64_t{5})},
                            {"f", BindingValue(0.5)},
                            {"t", BindingValue("text")},
                            {"x", BindingValue(std::vector<std::uint8_t>{1, 2, 3})},
                            {"a", List({BindingValue(), BindingValue("item")})}});
  value.fieldForWrite("e").setEnum(1, &BindingStaticTypeOf<Mode>());
  value.fieldForWrite("n").setEnum(7, &BindingStaticTypeOf<Mode>());

  // Enums the registry knows travel by name; texts and bytes are copies the record owns.
  HostValue record = toHostValue(value, &registry);
  EXPECT_EQ(toJson(fromHostValue(record, "x").value),
            R"({"a":[null,"item"],"b":true,"e":"On","f":0.5,"n":7,"s":-5,"t":"text","u":5,)"
            R"("x":"AQID"})");
  const HostObjectEntry* entries = record.payload.object.entries;
  for (std::uint32_t i = 0; i < record.payload.object.count; ++i) EXPECT_EQ(+entries[i].present, 1);
  EXPECT_EQ(+entries[0].value.payload.array.items[1].kind, kHostValueOwnedText);
  EXPECT_EQ(+entries[2].value.kind, kHostValueOwnedText);
  EXPECT_EQ(+entries[6].value.kind, kHostValueOwnedText);
  EXPECT_NE(+entries[6].value.payload.text.data, value.field("t").getString().data());
  EXPECT_EQ(+entries[8].value.kind, kHostValueOwnedBytes);
  ReleaseHostValue(record);
  EXPECT_EQ(+record.kind, kHostValueNone);

  // Without a registry enums travel as numbers, and the record reads back into the same tree.
  record = toHostValue(value, nullptr);
  EXPECT_EQ(+record.payload.object.entries[2].value.kind, kHostValueSigned);
  EXPECT_EQ(toJson(fromHostValue(record, "x").value), toJson(value));
  ReleaseHostValue(record);
}

TEST(FromHostValue, ReadsTextsUpToTheNulAndKeepsTheLastOfRepeatedKeys) {
  HostObjectEntry entries[2] = {};
  entries[0].key = entries[1].key = "k";
  entries[0].value.kind = entries[1].value.kind = kHostValueText;
  entries[0].value.payload.text = {"first", 5};
  entries[1].value.payload.text = {"sec\0ond", 7};
  HostValue object{};
  object.kind = kHostValueObject;
  object.payload.object.entries = entries;
  object.payload.object.count = 2;
  EXPECT_EQ(fromHostValue(object, "x").value, Map({{"k", BindingValue("sec")}}));
}

int g_release_calls = 0;

void HostRelease(HostResponse* response) {
  ++g_release_calls;
  response->text = nullptr;
}

TEST(FromHostValue, AnUnknownKindFailsAndTurnsAGivenResponseIntoAnError) {
  g_release_calls = 0;
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
  const HostValue value = response.value;
  EXPECT_EQ(errorText(fromHostValue(value, "<result>")), expected);  // without a response
  EXPECT_EQ(g_release_calls, 0);
  EXPECT_EQ(errorText(fromHostValue(value, "<result>", &response)), expected);
  EXPECT_EQ(g_release_calls, 1);
  EXPECT_EQ(+response.text, nullptr);
  EXPECT_STREQ(response.errorText, expected);
  EXPECT_EQ(+response.errorFlag, 1);
  EXPECT_EQ(+response.value.kind, kHostValueNone);
  ASSERT_NE(+response.release, nullptr);
  response.release(&response);
  EXPECT_EQ(+response.errorText, nullptr);
  EXPECT_EQ(g_release_calls, 1);
}

}  // namespace
}  // namespace binding
