#include "binding/yaml_bridge.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "binding/json_bridge.h"
#include "gtest/gtest.h"

namespace binding {
namespace {

struct Row {
  std::string text;
  std::string outcome;  // the kind and JSON of what was read, or the failure's message
};

void Check(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const BindingConversionResult result = parseYaml(row.text);
    EXPECT_EQ(result.ok == 1 ? std::string(BindingValueKindName(result.value.kind())) + " " +
                                   toJson(result.value)
                             : std::string(errorText(result)),
              row.outcome);
  }
}

TEST(ParseYaml, TypesPlainScalarsAndKeepsQuotedOnesAsText) {
  Check({
      {"a: yes", R"(structure {"a":true})"},
      {"a: '5'", R"(structure {"a":"5"})"},
      {"a: \"true\"", R"(structure {"a":"true"})"},
      {"-0", "unsigned 0"},
      {"1.0", "unsigned 1"},
      {"1e3", "unsigned 1000"},
      {"0x10", "unsigned 16"},
      {"007", "unsigned 7"},
      {"+12", "unsigned 12"},
      {"-2.5e-3", "float -0.0025"},
      // Beyond 2^53 integers are read as doubles, so they round.
      {"9007199254740993", "unsigned 9007199254740992"},
      {"-9223372036854775808", "signed -9223372036854775808"},
      {"18446744073709551616", "float 18446744073709553000.0"},
      {"-1e19", "float -10000000000000000000.0"},
      {"inf", R"(string "inf")"},
      {"1_000", R"(string "1_000")"},
      {"Off", "bool false"},
      {"NO", "bool false"},
      {"y", "bool true"},
      {"yES", R"(string "yES")"},
      {"[~, null, NULL, '', x]", R"(collection [null,null,null,"","x"])"},
      {"a:\nb: Null", R"(structure {"a":null,"b":null})"},
      {"# only a comment\n", "empty "},
  });
}

TEST(ParseYaml, HonoursCoreTagsWithConversionMessages) {
  Check({
      {"!!str 5", R"(string "5")"},
      {"!!int 0x1F", "unsigned 31"},
      {"!!int -5", "signed -5"},
      {"!!int 010", "unsigned 8"},
      {"!!float 2", "float 2.0"},
      {"!!float -1.5", "float -1.5"},
      {"!!bool yes", "bool true"},
      {"!!bool maybe", "empty "},
      {"[!!str null, !!str ~]", R"(collection ["null","~"])"},
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
      {"a: &x [1, {b: 2}]\nc: *x", R"(structure {"a":[1,{"b":2}],"c":[1,{"b":2}]})"},
      {"- &n 0x10\n- *n", "collection [16,16]"},
      {"&k key: 1\nother: *k", R"(structure {"key":1,"other":"key"})"},
      // An alias may name a mapping key when its anchor stands for text.
      {"a: &t name\n*t : 3", R"(structure {"a":"name","name":3})"},
      // Anchors name places in the tree: a replaced value is what a later alias copies.
      {"a: &x 1\na: 2\nb: *x", R"(structure {"a":2,"b":2})"},
      {"a: &x [1]\nb: *x\na: [2]", R"(structure {"a":[2],"b":[1]})"},
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
      {"a: &a " + deep + "\nb: " + std::string(211, '[') + "*a" + std::string(211, ']'),
       "structure " + toJson(parseYaml("a: " + deep + "\nb: " + std::string(211, '[') + deep +
                                       std::string(211, ']'))
                                 .value)},
  });
}

}  // namespace
}  // namespace binding
