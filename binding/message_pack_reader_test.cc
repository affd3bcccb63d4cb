#include "binding/message_pack_reader.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace binding {
namespace {

using Bytes = std::vector<std::uint8_t>;

MessagePackReadResult Read(const Bytes& bytes) {
  return parseMessagePack(bytes.data(), bytes.size());
}

TEST(MessagePackReader, DecodesEveryScalarClassBigEndian) {
  struct Case {
    Bytes bytes;
    BindingValue expected;
  };
  const Case cases[] = {
      {{0x00}, BindingValue(std::int64_t{0})},
      {{0x7F}, BindingValue(std::int64_t{127})},
      {{0xE0}, BindingValue(std::int64_t{-32})},
      {{0xFF}, BindingValue(std::int64_t{-1})},
      {{0xC2}, BindingValue(false)},
      {{0xC3}, BindingValue(true)},
      {{0xCC, 0xFF}, BindingValue(std::uint64_t{255})},
      {{0xCD, 0x12, 0x34}, BindingValue(std::uint64_t{0x1234})},
      {{0xCE, 0xDE, 0xAD, 0xBE, 0xEF}, BindingValue(std::uint64_t{0xDEADBEEF})},
      {{0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE},
       BindingValue(std::uint64_t{18446744073709551614u})},
      {{0xD0, 0x80}, BindingValue(std::int64_t{-128})},
      {{0xD1, 0xFF, 0x00}, BindingValue(std::int64_t{-256})},
      {{0xD2, 0x80, 0x00, 0x00, 0x00}, BindingValue(std::int64_t{-2147483648})},
      {{0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, BindingValue(std::int64_t{INT64_MIN})},
      {{0xCA, 0x3F, 0xC0, 0x00, 0x00}, BindingValue(1.5)},
      {{0xCB, 0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, BindingValue(3.141592653589793)},
      {{0xA3, 'a', 'b', 'c'}, BindingValue("abc")},
      {{0xA0}, BindingValue("")},
      {{0xD9, 0x02, 'h', 'i'}, BindingValue("hi")},
      {{0xDA, 0x00, 0x01, 'x'}, BindingValue("x")},
      {{0xDB, 0x00, 0x00, 0x00, 0x02, 0xC3, 0xA9}, BindingValue("\xC3\xA9")},
      {{0xC4, 0x03, 0x00, 0xFF, 0x10}, BindingValue(Bytes{0x00, 0xFF, 0x10})},
      {{0xC5, 0x00, 0x01, 0x7F}, BindingValue(Bytes{0x7F})},
      {{0xC6, 0x00, 0x00, 0x00, 0x00}, BindingValue(Bytes{})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    MessagePackReadResult read = Read(c.bytes);
    EXPECT_EQ(read.result.ok, 1);
    EXPECT_EQ(read.result.value, c.expected);
    EXPECT_EQ(read.consumed, c.bytes.size());
  }
}

TEST(MessagePackReader, BuildsContainersAndCountsConsumedBytes) {
  MessagePackReadResult read = Read({0x93, 0x01, 0xFF, 0xC0});
  BindingValue expected;
  expected.appendElement().setSigned(1);
  expected.appendElement().setSigned(-1);
  expected.appendElement();
  EXPECT_EQ(read.result.ok, 1);
  EXPECT_EQ(read.result.value, expected);
  EXPECT_EQ(read.consumed, 4u);

  // {"b": [true], "a": {}} then one byte too many, which the caller must see.
  read = Read({0x82, 0xA1, 'b', 0x91, 0xC3, 0xA1, 'a', 0x80, 0x01});
  ASSERT_EQ(read.result.ok, 1);
  EXPECT_EQ(read.consumed, 8u);
  ASSERT_EQ(read.result.value.fields().size(), 2u);
  EXPECT_EQ(read.result.value.fields()[0].key(), "a");
  EXPECT_TRUE(read.result.value.field("a").isStructure());
  EXPECT_EQ(read.result.value.field("b").element(0), BindingValue(true));

  // 16- and 32-bit headers announce counts the same way as the fixed forms.
  read = Read({0xDC, 0x00, 0x01, 0xDE, 0x00, 0x01, 0xA1, 'k', 0xDD, 0x00, 0x00, 0x00, 0x00});
  ASSERT_EQ(read.result.ok, 1);
  EXPECT_EQ(read.consumed, 13u);
  EXPECT_TRUE(read.result.value.element(0).field("k").isCollection());
  EXPECT_EQ(read.result.value.element(0).field("k").size(), 0u);
}

TEST(MessagePackReader, InputEndingInsideContainersKeepsWhatWasRead) {
  struct Case {
    Bytes bytes;
    std::size_t size;
  };
  const Case cases[] = {
      {{}, 0},
      {{0x92, 0x01}, 1},
      {{0x82, 0xA1, 'a', 0x01, 0xA1, 'b'}, 1},
      // A header announcing four billion elements reserves no more than the input could hold.
      {{0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, 2},
      {{0xDF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    MessagePackReadResult read = Read(c.bytes);
    EXPECT_EQ(read.result.ok, 1);
    EXPECT_EQ(read.result.value.size(), c.size);
    EXPECT_EQ(read.consumed, c.bytes.size());
  }
}

TEST(MessagePackReader, ReportsMalformedInputWithItsPosition) {
  struct Case {
    Bytes bytes;
    std::string message;
    std::size_t consumed;
  };
  const Case cases[] = {
      {{0x81, 0x01, 0x02}, "Invalid MessagePack data at position 2. Map keys must be strings.", 2},
      {{0x81, 0x90}, "Invalid MessagePack data at position 2. Map keys must be strings.", 2},
      {{0xCC}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.", 1},
      {{0xCD, 0x01},
       "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.",
       1},
      {{0x91, 0xCA, 0, 0, 0},
       "Invalid MessagePack data. 32-bit integer value at position 2 is truncated.",
       2},
      {{0xD3, 1, 2, 3, 4, 5, 6, 7},
       "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.",
       1},
      {{0xDC, 0x00},
       "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.",
       1},
      {{0xA3, 0x61, 0x62},
       "Invalid MessagePack data. String of size 3 at position 1 is truncated.",
       1},
      {{0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated.",
       5},
      {{0x81, 0xD9, 0x05, 'k'},
       "Invalid MessagePack data. String of size 5 at position 3 is truncated.",
       3},
      {{0xC4, 0x02, 0x00},
       "Invalid MessagePack data. Raw bytes of size 2 at position 2 are truncated.",
       2},
      {{0xD4, 0x00, 0x00}, "Invalid MessagePack data at position 1.", 1},
      {{0x91, 0xC1}, "Invalid MessagePack data at position 2.", 2},
      {{0xC7, 0x01, 0x05, 0x00}, "Invalid MessagePack data at position 1.", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    MessagePackReadResult read = Read(c.bytes);
    EXPECT_EQ(read.result.ok, 0);
    EXPECT_EQ(errorText(read.result), c.message);
    EXPECT_EQ(read.result.value.size(), 1u);  // only {"error": message} is left
    EXPECT_EQ(read.consumed, c.consumed);
  }
}

TEST(MessagePackReader, RepeatedKeyReplacesContainersButNilKeepsTheValue) {
  // {"a": [1, 2], "a": [3], "b": 1, "b": nil}
  MessagePackReadResult read = Read(
      {0x84, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03, 0xA1, 'b', 0x01, 0xA1, 'b', 0xC0});
  ASSERT_EQ(read.result.ok, 1);
  BindingValue expected;
  expected.fieldForWrite("a").appendElement().setSigned(3);
  expected.fieldForWrite("b").setSigned(1);
  EXPECT_EQ(read.result.value, expected);
}

TEST(MessagePackReader, InputEndingInsideMapsLeavesThemInKeyOrder) {
  // {"z": 1, "m": {"y": 2, "b": 3, "b" <end>: both maps announce three pairs.
  MessagePackReadResult read =
      Read({0x83, 0xA1, 'z', 0x01, 0xA1, 'm', 0x83, 0xA1, 'y', 0x02, 0xA1, 'b', 0x03, 0xA1, 'b'});
  ASSERT_EQ(read.result.ok, 1);
  EXPECT_EQ(read.consumed, 15u);
  const BindingValue& value = read.result.value;
  ASSERT_EQ(value.size(), 2u);
  EXPECT_EQ(value.fields()[0].key(), "m");
  EXPECT_EQ(value.fields()[1].key(), "z");
  const BindingValue& inner = value.field("m");
  ASSERT_EQ(inner.size(), 2u);
  EXPECT_EQ(inner.fields()[0].key(), "b");
  EXPECT_EQ(inner.field("b").getSigned(), 3);
  EXPECT_EQ(inner.field("y").getSigned(), 2);
}

TEST(MessagePackReader, DeepNestingFailsInsteadOfExhaustingTheStack) {
  Bytes deep(100000, 0x91);
  MessagePackReadResult read = Read(deep);
  EXPECT_EQ(read.result.ok, 0);
  EXPECT_EQ(errorText(read.result),
            "Invalid MessagePack data at position 513. Containers nested deeper than 512 levels "
            "are not supported.");

  Bytes allowed(512, 0x91);
  allowed.push_back(0xC3);
  read = Read(allowed);
  ASSERT_EQ(read.result.ok, 1);
  const BindingValue* innermost = &read.result.value;
  for (int level = 0; level < 512; ++level) innermost = &innermost->element(0);
  EXPECT_EQ(*innermost, BindingValue(true));
}

}  // namespace
}  // namespace binding
