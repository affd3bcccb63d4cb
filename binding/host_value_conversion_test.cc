#include "binding/host_value_conversion.h"

#include <cstring>
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

// A record on one line: owned texts and bytes in upper case, arrays in [], objects as {key=value}
// with '?=' after a key not marked present. Packed records are read through copies.
std::string Describe(const HostValue& value) {
  std::string line;
  switch (value.kind) {
    case kHostValueNone:
      return "none";
    case kHostValueBool:
      return "b" + std::to_string(+value.payload.boolean);
    case kHostValueSigned:
      return "s" + std::to_string(+value.payload.int64);
    case kHostValueUnsigned:
      return "u" + std::to_string(+value.payload.uint64);
    case kHostValueDouble:
      return "d" + std::to_string(+value.payload.float64);
    case kHostValueText:
    case kHostValueOwnedText:
      line = std::string(value.payload.text.data, value.payload.text.length);
      return (value.kind == kHostValueText ? "t'" : "T'") + line + "'";
    case kHostValueBytes:
    case kHostValueOwnedBytes:
      for (std::uint32_t i = 0; i < value.payload.bytes.length; ++i) {
        line += "." + std::to_string(value.payload.bytes.data[i]);
      }
      return (value.kind == kHostValueBytes ? "x" : "X") + line;
    case kHostValueArray:
      for (std::uint32_t i = 0; i < value.payload.array.count; ++i) {
        const HostValue item = value.payload.array.items[i];
        line += (i == 0 ? "" : ",") + Describe(item);
      }
      return "[" + line + "]";
    case kHostValueObject:
      for (std::uint32_t i = 0; i < value.payload.object.count; ++i) {
        const HostObjectEntry entry = value.payload.object.entries[i];
        line += (i == 0 ? "" : ",") + std::string(entry.key) + (entry.present == 1 ? "=" : "?=") +
                Describe(entry.value);
      }
      return "{" + line + "}";
  }
  return "kind" + std::to_string(+value.kind);
}

TEST(ToHostValue, WritesEveryKindWithCopiesTheRecordOwns) {
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

  HostValue record = toHostValue(value, &registry);
  EXPECT_EQ(Describe(record),
            "{a=[none,T'item'],b=b1,e=T'On',f=d0.500000,n=s7,s=s-5,t=T'text',u=u5,x=X.1.2.3}");
  const HostObjectEntry text = record.payload.object.entries[6];
  EXPECT_NE(+text.value.payload.text.data, value.field("t").getString().data());
  ReleaseHostValue(record);
  EXPECT_EQ(Describe(record), "none");

  // Without a registry enums travel as numbers, and every record reads back into the same tree.
  record = toHostValue(value, nullptr);
  EXPECT_EQ(Describe(record.payload.object.entries[2].value), "s1");
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
  EXPECT_EQ(Describe(response.value), "none");
  ASSERT_NE(+response.release, nullptr);
  response.release(&response);
  EXPECT_EQ(+response.errorText, nullptr);
  EXPECT_EQ(g_release_calls, 1);
}

}  // namespace
}  // namespace binding
