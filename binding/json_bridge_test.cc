#include "binding/json_bridge.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_static_type.h"
#include "binding/binding_type_registry.h"
#include "gtest/gtest.h"
#include "platform/memory_counters.h"
#include "testing/value_builders.h"

namespace binding {
namespace {

using ulix_testing::List;
using ulix_testing::Map;

// The reader runs with its SSE2 scanners on x86-64 and without them on 32-bit x86; both builds
// run this table, so the texts and offsets of failures are those of the plain reader.
TEST(ParseJson, TypesNumbersBySignAndFormOrReportsErrorsWithTextAndOffsetAndLimitsTheDepth) {
  const std::string long_run(40, 'a');
  struct Case {
    std::string text;
    std::string outcome;  // the kind and JSON of what was read, or the failure's message
  };
  const Case cases[] = {
      {"-0", "signed 0"},
      {"18446744073709551615", "unsigned 18446744073709551615"},
      {"18446744073709551616", "float 18446744073709553000.0"},
      {"-9223372036854775808", "signed -9223372036854775808"},
      {"-9223372036854775809", "float -9223372036854776000.0"},
      {"1e2", "float 100.0"},
      {"1.0", "float 1.0"},
      {" \"a\\u00e9\\n\" ", "string \"a\xC3\xA9\\n\""},
      {"\"\\ud83d\\ude00\"", "string \"\xF0\x9F\x98\x80\""},
      {" \r\n\t", "empty "},  // blank text is an empty value, not an error
      {"", "empty "},
      // The last of repeated names wins, whatever the earlier value was.
      {"{\"a\": [1, 2], \"a\": {\"x\": 1}, \"a\": [3]}", "structure {\"a\":[3]}"},
      {"{\"a\": 1, \"a\": null}", "structure {\"a\":null}"},
      {"[1,", "Error: Invalid value. at offset 3."},
      {"  [1,]", "Error: Invalid value. at offset 5."},
      {"nul", "Error: Invalid value. at offset 3."},
      {"NaN", "Error: Invalid value. at offset 0."},
      {"// note\n1", "Error: Invalid value. at offset 0."},
      {"1 2", "Error: The document root must not be followed by other values. at offset 2."},
      {"{1:2}", "Error: Missing a name for object member. at offset 1."},
      {"{\"a\":1,}", "Error: Missing a name for object member. at offset 7."},
      {"{\"a\" 1}", "Error: Missing a colon after a name of object member. at offset 5."},
      {"{\"a\":1 \"b\":2}", "Error: Missing a comma or '}' after an object member. at offset 7."},
      {"[1 2]", "Error: Missing a comma or ']' after an array element. at offset 3."},
      {"\"\\u12G4\"", "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
      {"\"\\uD800x\"", "Error: The surrogate pair in string is invalid. at offset 1."},
      {"\"\\q\"", "Error: Invalid escape character in string. at offset 1."},
      {"\"abc", "Error: Missing a closing quotation mark in string. at offset 4."},
      {"1e400", "Error: Number too big to be stored in double. at offset 0."},
      {"1.", "Error: Miss fraction part in number. at offset 2."},
      {"1e", "Error: Miss exponent in number. at offset 2."},
      // Runs longer than one 16-byte block go through the vector scanner.
      {"[\"" + long_run, "Error: Missing a closing quotation mark in string. at offset 42."},
      {"[\"" + long_run + "\\q\"]", "Error: Invalid escape character in string. at offset 42."},
      {"[\"" + long_run + "\x01\"]", "Error: Invalid escape character in string. at offset 42."},
      // The packaged vector scanner misses 0x1A-0x1F; the plain one must still see them.
      {"[\"" + long_run + "\x1F\"]", "Error: Invalid escape character in string. at offset 42."},
      {"[\"" + long_run + "\x1A\"]", "Error: Invalid escape character in string. at offset 42."},
      {"[1,\x1F]", "Error: Invalid value. at offset 3."},
      {"[" + std::string(40, ' ') + "1 2]",
       "Error: Missing a comma or ']' after an array element. at offset 43."},
      // Deep nesting fails instead of exhausting the stack; 512 levels are fine.
      {std::string(100000, '['),
       "Error: Arrays and objects nest deeper than 512 levels. at offset 513."},
      {std::string(512, '[') + "1" + std::string(512, ']'),
       "collection " + std::string(512, '[') + "1" + std::string(512, ']')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const BindingConversionResult result = parseJson(c.text.c_str());
    EXPECT_EQ(result.ok == 1 ? std::string(BindingValueKindName(result.value.kind())) + " " +
                                   toJson(result.value)
                             : std::string(errorText(result)),
              c.outcome);
  }
  // The reader rejects "1e400" but lets this overflow through as an infinity.
  EXPECT_EQ(parseJson("-9.2e309").value, BindingValue(-std::numeric_limits<double>::infinity()));
}

TEST(ParseJson, KeepsOnlyTheNamedMembersOfARootObject) {
  // Names are told apart by length first; empty and long names take the slow way.
  const std::string long_name(70, 'n');
  const std::string_view kept[] = {"regions", "uri", "gone", "", long_name};
  const std::string text = R"({"scopes": ["a", {"b": [1, 2, {"regions": 3}]}], "regions": ["NA1",
      "EUW1"], "uri": "first", "other": {"uri": "nested"}, "uri": "https://x", "gone": 1,
      "gone": null, "tail": [[[]]], "": 0, ")" +
                           long_name + R"(": 1, ")" + std::string(70, 'm') + R"(": 2, "abc": 3})";
  BindingConversionResult filtered = parseJson(text, kept);
  // A repeated member keeps its last value, null included, as in a whole parse.
  EXPECT_EQ(toJson(filtered.value), R"({"":0,"gone":null,")" + long_name +
                                        R"(":1,"regions":["NA1","EUW1"],"uri":"https://x"})");
  BindingConversionResult whole = parseJson(text.c_str());
  for (std::string_view name : kept) EXPECT_EQ(filtered.value.field(name), whole.value.field(name));
  // A counted text is read up to its first NUL, as a terminated one is.
  EXPECT_EQ(parseJson(std::string_view(text + '\0' + "garbage"), kept).value, filtered.value);

  // A root that is not an object is kept whole; no names means no filter.
  EXPECT_EQ(parseJson(R"([{"other": 1}])", kept).value, parseJson(R"([{"other": 1}])").value);
  EXPECT_EQ(parseJson(text.c_str(), {}).value, whole.value);
}

TEST(ParseJson, LeftOutMembersFailLikeAWholeParse) {
  const std::string_view kept[] = {"kept"};
  const std::string deep = std::string(600, '[') + std::string(600, ']');
  for (const std::string& bad :
       {std::string("[1,]"), std::string("\"abc"), std::string("1e400"), std::string("{\"a\" 1}"),
        std::string("\"\\q\""), deep, std::string(511, '[') + std::string(511, ']')}) {
    for (const std::string& text :
         {"{\"other\": " + bad + "}", "{\"kept\": 1, \"other\": " + bad + ", \"kept\": 2}"}) {
      SCOPED_TRACE(text);
      BindingConversionResult whole = parseJson(text.c_str());
      BindingConversionResult filtered = parseJson(text.c_str(), kept);
      EXPECT_EQ(filtered.ok, whole.ok);
      EXPECT_EQ(errorText(filtered), errorText(whole));
    }
  }
}

TEST(ToJson, WritesEveryKindCompactWithKeysInByteOrder) {
  BindingValue enumerator;
  enumerator.setEnum(3, nullptr);
  const double infinity = std::numeric_limits<double>::infinity();  // non-finite numbers are null
  const BindingValue value =
      Map({{"b", BindingValue("q\"\\\n\x01")},
           {"a", BindingValue()},  // empty inside a tree is null
           {"B", BindingValue(std::vector<std::uint8_t>{'a', 'b', 'c', 'd'})},
           {"C", BindingValue(std::vector<std::uint8_t>{0xFB, 0xFF})},
           {"c", List({BindingValue(true), BindingValue(std::int64_t{-7}),
                       BindingValue(std::uint64_t{18446744073709551615u}), BindingValue(1.0),
                       BindingValue(0.1), BindingValue(-1e300), enumerator, List({}), Map({}),
                       BindingValue(std::nan("")), BindingValue(-infinity)})},
           {"e", BindingValue(infinity)},
           {"d\"\t", BindingValue("plain")}});
  EXPECT_EQ(toJson(value),
            R"({"B":"YWJjZA==","C":"+/8=","a":null,"b":"q\"\\\n\u0001","c":[true,-7,)"
            R"(18446744073709551615,1.0,0.1,-1e300,3,[],{},null,null],"d\"\t":"plain","e":null})");
  EXPECT_EQ(toJson(BindingValue()), "");  // an empty root is no text
  // Numbers at the ends of the double range come out as RapidJSON's writer gives them.
  BindingValue numbers;
  for (double number : {1.7976931348623157e308, 5e-324, 2.2250738585072014e-308, -0.0,
                        0.30000000000000004, 123456789012345680000.0, 1e-300}) {
    numbers.appendElement().setFloat(number);
  }
  EXPECT_EQ(toJson(numbers),
            "[1.7976931348623157e308,5e-324,2.2250738585072014e-308,-0.0,0.30000000000000007,"
            "123456789012345680000.0,1e-300]");
}

TEST(ToJson, PrettyOutputIndentsByFourAndUsesTheGivenLineEnding) {
  const BindingValue value = Map(
      {{"b", List({BindingValue(std::uint64_t{1}), Map({}), List({})})}, {"a", BindingValue("x")}});
  EXPECT_EQ(toJson(value, nullptr, "\r\n"),
            "{\r\n    \"a\": \"x\",\r\n    \"b\": [\r\n        1,\r\n        {},\r\n        "
            "[]\r\n    ]\r\n}");
  EXPECT_EQ(toJson(BindingValue(), nullptr, "\r\n"), "");
}

TEST(ToJson, WritesEnumsByNameWhenTheRegistryKnowsTheValue) {
  static const BindingStaticType kColorType(0x00C0102Au);
  static const BindingStaticType kUnregisteredType(0x00C0102Bu);
  BindingTypeRegistry registry;
  BindingTypeBuilder builder = registry.beginType(4, "Color", kColorType, /*isEnum=*/true);
  builder.addEnumValue("red", 1, "");
  builder.addEnumValue("green", 2, "");

  BindingValue value;
  value.appendElement().setEnum(2, &kColorType);
  value.appendElement().setEnum(9, &kColorType);
  value.appendElement().setEnum(1, &kUnregisteredType);
  EXPECT_EQ(toJson(value, &registry), "[\"green\",9,1]");
  EXPECT_EQ(toJson(value), "[2,9,1]");
}

// The walk is the contract every serialiser is written against.
TEST(WalkValue, ReportsElementsAndFieldsInOrder) {
  class Recorder final : public BindingValueSink {
   public:
    std::string log;
    void Null() override { log += "null "; }
    void Bool(bool value) override { log += value ? "true " : "false "; }
    void Signed(std::int64_t value) override { log += "s" + std::to_string(value) + " "; }
    void Unsigned(std::uint64_t value) override { log += "u" + std::to_string(value) + " "; }
    void Double(double value) override { log += "d "; }
    void String(std::string_view text) override { log += "'" + std::string(text) + "' "; }
    void Blob(std::span<const std::uint8_t> bytes) override {
      log += "blob" + std::to_string(bytes.size()) + " ";
    }
    void Enum(BindingEnumPair value) override { log += "e" + std::to_string(value.value) + " "; }
    void BeginCollection(std::size_t count) override { log += "[" + std::to_string(count) + " "; }
    void BeforeElement(std::size_t index) override { log += "<" + std::to_string(index) + " "; }
    void AfterElement(std::size_t index) override { log += std::to_string(index) + "> "; }
    void EndCollection() override { log += "] "; }
    void BeginStructure(std::size_t count) override { log += "{" + std::to_string(count) + " "; }
    void Key(std::string_view name) override { log += std::string(name) + ": "; }
    void AfterField() override { log += ", "; }
    void EndStructure() override { log += "} "; }
  };
  BindingValue value = Map({{"y", List({BindingValue(std::int64_t{-1}), BindingValue()})},
                            {"x", BindingValue(std::vector<std::uint8_t>{1, 2})}});
  value.fieldForWrite("e").setEnum(4, nullptr);
  Recorder recorder;
  WalkValue(value, recorder);
  EXPECT_EQ(recorder.log, "{3 e: e4 , x: blob2 , y: [2 <0 s-1 0> <1 null 1> ] , } ");
}

TEST(JsonBridge, ReadsAndWritesThroughTheCountingHeap) {
  // The memory statistics the host reads must cover the reader's stack and the writer's
  // output, and every block must come back.
  const std::string nested = std::string(300, '[') + std::string(300, ']');
  BindingValue big;
  for (int i = 0; i < 2000; ++i) big.appendElement().setString("eight ch");
  const platform::MemoryCounters before = platform::ReadMemoryCounters();
  EXPECT_EQ(parseJson(nested.c_str()).ok, 1);
  const std::string text = toJson(big);
  const platform::MemoryCounters after = platform::ReadMemoryCounters();
  EXPECT_GT(after.allocations, before.allocations);
  EXPECT_GE(after.bytes_allocated - before.bytes_allocated, text.size());
  EXPECT_EQ(after.frees - before.frees, after.allocations - before.allocations);
  EXPECT_EQ(after.bytes_freed - before.bytes_freed, after.bytes_allocated - before.bytes_allocated);
}

}  // namespace
}  // namespace binding
