#include "binding/yaml_bridge.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "gtest/gtest.h"
#include "testing/value_builders.h"

namespace binding {
namespace {

using ulix_testing::List;
using ulix_testing::Map;

BindingValue Unsigned(std::uint64_t value) { return BindingValue(value); }
BindingValue Signed(std::int64_t value) { return BindingValue(value); }

struct Row {
  std::string text;
  std::string message;  // a failure's, when not empty: then only {"error": message} is left
  BindingValue expected = {};
};

void Check(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    BindingConversionResult result = parseYaml(row.text);
    EXPECT_EQ(errorText(result), row.message);
    if (row.message.empty()) {
      EXPECT_EQ(result.value, row.expected);
    } else {
      EXPECT_EQ(result.value.size(), 1u);
    }
  }
}

TEST(ParseYaml, TypesPlainScalarsAndKeepsQuotedOnesAsText) {
  Check({
      {"a: yes", "", Map({{"a", BindingValue(true)}})},
      {"a: '5'", "", Map({{"a", BindingValue("5")}})},
      {"a: \"true\"", "", Map({{"a", BindingValue("true")}})},
      {"-0", "", Unsigned(0)},
      {"1.0", "", Unsigned(1)},
      {"1e3", "", Unsigned(1000)},
      {"0x10", "", Unsigned(16)},
      {"007", "", Unsigned(7)},
      {"+12", "", Unsigned(12)},
      {"-2.5e-3", "", BindingValue(-0.0025)},
      // Beyond 2^53 integers are read as doubles, so they round.
      {"9007199254740993", "", Unsigned(9007199254740992u)},
      {"-9223372036854775808", "", Signed(INT64_MIN)},
      {"18446744073709551616", "", BindingValue(18446744073709551616.0)},
      {"-1e19", "", BindingValue(-1e19)},
      {"inf", "", BindingValue("inf")},
      {"1_000", "", BindingValue("1_000")},
      {"Off", "", BindingValue(false)},
      {"NO", "", BindingValue(false)},
      {"y", "", BindingValue(true)},
      {"yES", "", BindingValue("yES")},
      {"[~, null, NULL, '', x]", "",
       List({BindingValue(), BindingValue(), BindingValue(), BindingValue(""), BindingValue("x")})},
      {"a:\nb: Null", "", Map({{"a", BindingValue()}, {"b", BindingValue()}})},
      {"# only a comment\n", "", BindingValue()},
  });
}

TEST(ParseYaml, HonoursCoreTagsWithConversionMessages) {
  Check({
      {"!!str 5", "", BindingValue("5")},
      {"!!int 0x1F", "", Unsigned(31)},
      {"!!int -5", "", Signed(-5)},
      {"!!int 010", "", Unsigned(8)},
      {"!!float 2", "", BindingValue(2.0)},
      {"!!float -1.5", "", BindingValue(-1.5)},
      {"!!bool yes", "", BindingValue(true)},
      {"!!bool maybe", "", BindingValue()},
      {"[!!str null, !!str ~]", "", List({BindingValue("null"), BindingValue("~")})},
  });

  Check({
      {"!!int 12a", "Value 12a for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int -1x", "Value -1x for 'yaml' of type int64_t is in an incorrect format"},
      {"!!int 18446744073709551616",
       "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"!!int -9223372036854775809",
       "Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"!!float abc", "Value abc for 'yaml' of type double is in an incorrect format"},
      {"!!float 1e999", "Value 1e999 for 'yaml' of type double is out of range"},
      {"!!null x", "Unsupported YAML tag 'tag:yaml.org,2002:null'."},
      {"a: !custom x", "Unsupported YAML tag '!custom'."},
  });
}

TEST(ParseYaml, AliasesCopyTheAnchoredNodeAsItStandsThen) {
  Check({
      {"a: &x [1, {b: 2}]\nc: *x", "",
       Map({{"a", List({Unsigned(1), Map({{"b", Unsigned(2)}})})},
            {"c", List({Unsigned(1), Map({{"b", Unsigned(2)}})})}})},
      {"- &n 0x10\n- *n", "", List({Unsigned(16), Unsigned(16)})},
      {"&k key: 1\nother: *k", "", Map({{"key", Unsigned(1)}, {"other", BindingValue("key")}})},
      // An alias may name a mapping key when its anchor stands for text.
      {"a: &t name\n*t : 3", "", Map({{"a", BindingValue("name")}, {"name", Unsigned(3)}})},
      // Anchors name places in the tree: a replaced value is what a later alias copies.
      {"a: &x 1\na: 2\nb: *x", "", Map({{"a", Unsigned(2)}, {"b", Unsigned(2)}})},
      {"a: &x [1]\nb: *x\na: [2]", "",
       Map({{"a", List({Unsigned(2)})}, {"b", List({Unsigned(1)})}})},
  });
}

TEST(ParseYaml, ReportsLoaderErrorsAtLinesAndColumnsFromOne) {
  Check({
      {"--- 1\n--- 2", "Multi-document YAML is not supported."},
      {"[1, 2]: x", "Unexpected start of sequence. At line: 1 col: 1"},
      {"x: 1\n{a: 1}: x", "Unexpected start of mapping. At line: 2 col: 1"},
      {"a: 1\n!!int 7: x",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"a: &l [1]\n*l : x",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"a: *x", "Undefined alias encountered: \"x\". At line: 1 col: 4"},
      {"a: &x [1, *x]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
      {"a: &x {b: {c: *x}}", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 15"},
      // The anchored key names a node that a repeated key opened again.
      {"a: &x {b: 1}\na: {c: *x}",
       "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 8"},
      {"a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"&x a: &x 1", "Duplicate occurrence of anchor \"x\". At line: 1 col: 7"},
  });
}

TEST(ParseYaml, ReportsParserErrorsAtLibyamlPositions) {
  Check({
      {"a: [1", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"a: b: c",
       "YAML parser error: mapping values are not allowed in this context. At line: 0 col: 4"},
      {"\"abc", "YAML parser error: found unexpected end of stream. At line: 0 col: 4"},
      {std::string("a: \xFF", 4),
       "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0"},
  });
}

TEST(ParseYaml, RefusesUnboundedDepthAndAliasExpansion) {
  // Aliases may copy 2^20 nodes and no more: a list of 1023 texts 1024 times, then one text.
  // An alias may not stack a deep node under a deep path beyond 512 levels either.
  std::string copies = "a: &a [x";
  for (int i = 1; i < 1023; ++i) copies += ", x";
  copies += "]\nb: [*a";
  for (int i = 1; i < 1024; ++i) copies += ", *a";
  copies += "]\nc: &c x\n";
  EXPECT_EQ(parseYaml(copies).value.field("b").size(), 1024u);
  const std::string deep = std::string(300, '[') + std::string(300, ']');
  Check({
      {std::string(100000, '['),
       "Sequences and mappings nested deeper than 512 levels are not supported. At line: 1 col: "
       "513"},
      {copies + "d: *c",
       "Aliases expand the document beyond 1048576 nodes. Alias \"c\". At line: 4 col: 4"},
      {"a: &a " + deep + "\nb: " + std::string(212, '[') + "*a" + std::string(212, ']'),
       "Sequences and mappings nested deeper than 512 levels are not supported. At line: 2 col: "
       "216"},
      {"a: &a " + deep + "\nb: " + std::string(211, '[') + "*a" + std::string(211, ']'), "",
       parseYaml("a: " + deep + "\nb: " + std::string(211, '[') + deep + std::string(211, ']'))
           .value},
  });
}

}  // namespace
}  // namespace binding
