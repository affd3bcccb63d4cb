// Laws of the codings over generated values: a native struct survives the trip through its
// value tree, JSON text and back, and through YAML, which reads that JSON too (blobs, which
// text carries as base64 strings, are not read back from text by design); so does a value tree
// through JSON, YAML and host records, its JSON text being what RapidJSON's own writers give;
// sorting a structure's fields agrees with a map of the kept arrivals; form encoding escapes
// exactly the reserved bytes and decodes back to any bytes.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding_static_type.h"
#include "binding/binding_struct_builder.h"
#include "binding/binding_type_registry.h"
#include "binding/binding_value_store.h"
#include "binding/form_encoding.h"
#include "binding/host_value_conversion.h"
#include "binding/json_bridge.h"
#include "binding/native_conversion.h"
#include "binding/yaml_bridge.h"
#include "gtest/gtest.h"
#include "rapidcheck.h"
#include "rapidcheck/gtest.h"
#include "rapidjson/document.h"
#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "wire/url_decode.h"

namespace properties_test {

enum class Tone : std::int32_t { kLow = 1, kHigh = 2 };
ULIX_BINDING_TYPE(Tone, "Tone")

struct Sample {
  std::int64_t delta = 0;
  std::uint64_t total = 0;
  std::int8_t small = 0;
  double ratio = 0.0;
  bool flag = false;
  Tone tone = Tone::kLow;
  std::string text;
  std::optional<std::string> note;
  std::vector<std::string> labels;
  std::map<std::string, std::int32_t> counts;
  bool operator==(const Sample&) const = default;
};
ULIX_BINDING_TYPE(Sample, "Sample")

}  // namespace properties_test

namespace binding {
namespace {

using properties_test::Sample;
using properties_test::Tone;

// Texts YAML can carry in a double-quoted scalar too: printable ASCII, escapes and UTF-8.
rc::Gen<std::string> Texts() {
  return rc::gen::map(
      rc::gen::container<std::vector<std::string>>(rc::gen::elementOf(std::vector<std::string>{
          "a", "Z", "0", " ", "\"", "\\", "/", "\n", "\t", "\x01", "\x1F", "~", "\xC3\xA9",
          "\xE2\x82\xAC", "\xF0\x9F\x99\x82", "null", "1", "-"})),
      [](const std::vector<std::string>& pieces) {
        std::string text;
        for (const std::string& piece : pieces) text += piece;
        return text;
      });
}

Sample GenerateSample() {
  Sample sample;
  sample.delta = *rc::gen::arbitrary<std::int64_t>();
  sample.total = *rc::gen::arbitrary<std::uint64_t>();
  sample.small = *rc::gen::arbitrary<std::int8_t>();
  // The reader runs at RapidJSON's default precision, which may miss a double's last bit: the
  // ratios are short binary fractions, which it reads exactly.
  sample.ratio = *rc::gen::inRange(-(1 << 30), 1 << 30) / 256.0;
  sample.flag = *rc::gen::arbitrary<bool>();
  sample.tone = *rc::gen::element(Tone::kLow, Tone::kHigh);
  sample.text = *Texts();
  if (*rc::gen::arbitrary<bool>()) sample.note = *Texts();
  sample.labels = *rc::gen::container<std::vector<std::string>>(Texts());
  sample.counts = *rc::gen::container<std::map<std::string, std::int32_t>>(
      Texts(), rc::gen::arbitrary<std::int32_t>());
  return sample;
}

const BindingTypeRegistry& Types() {
  static const BindingTypeRegistry* const registry = [] {
    auto* types = new BindingTypeRegistry;
    BindingEnumBuilder<Tone>(*types).AddValue(Tone::kLow, "Low").AddValue(Tone::kHigh, "High");
    BindingStructBuilder<Sample>(*types)
        .AddField(&Sample::delta, "delta")
        .AddField(&Sample::total, "total")
        .AddField(&Sample::small, "small")
        .AddField(&Sample::ratio, "ratio")
        .AddField(&Sample::flag, "flag")
        .AddField(&Sample::tone, "tone")
        .AddField(&Sample::text, "text")
        .AddOptionalField(&Sample::note, "note")
        .AddField(&Sample::labels, "labels")
        .AddField(&Sample::counts, "counts");
    return types;
  }();
  return *registry;
}

// `sample` read back from `tree`, or the conversion's message.
std::string ReadBack(const BindingConversionResult& tree, const Sample& sample) {
  if (tree.ok != 1) return "parse: " + std::string(errorText(tree));
  Sample back;
  const BindingConversionResult read = fromValue(tree.value, back, Types());
  if (read.ok != 1) return "read: " + std::string(errorText(read));
  return back == sample ? "" : "differs: " + toJson(toValue(back, Types()).value, &Types());
}

RC_GTEST_PROP(NativeConversion, AStructSurvivesJsonAndYamlText, ()) {
  const Sample sample = GenerateSample();
  const std::string json = toJson(toValue(sample, Types()).value, &Types());
  RC_LOG() << json << "\n";
  RC_ASSERT(ReadBack(parseJson(json), sample) == "");
  // YAML reads plain numbers through a double: integers past 2^53 come back rounded.
  Sample narrow = sample;
  narrow.delta %= std::int64_t{1} << 53;
  narrow.total %= std::uint64_t{1} << 53;
  RC_ASSERT(ReadBack(parseYaml(toJson(toValue(narrow, Types()).value, &Types())), narrow) == "");
}

// A tree that JSON and YAML text both carry exactly: no blobs or enums; integers below 2^53,
// since YAML reads numbers through a double, negative ones signed and the rest unsigned, as the
// readers type them; fractions no reader rounds and never whole, which YAML reads as integers.
BindingValue Tree(int depth) {
  constexpr std::int64_t kExact = std::int64_t{1} << 53;
  BindingValue value;
  switch (*rc::gen::inRange(0, depth > 0 ? 8 : 6)) {
    case 1:
      value.setBool(*rc::gen::arbitrary<bool>());
      break;
    case 2:
      value.setSigned(-1 - *rc::gen::inRange<std::int64_t>(0, kExact));
      break;
    case 3:
      value.setUnsigned(*rc::gen::inRange<std::uint64_t>(0, kExact));
      break;
    case 4:
      value.setFloat((2 * *rc::gen::inRange(-(1 << 20), 1 << 20) + 1) / 512.0);
      break;
    case 5:
      value.setString(*Texts());
      break;
    case 6:
      value.reserve(0);
      for (int i = *rc::gen::inRange(0, 4); i > 0; --i) value.appendElement() = Tree(depth - 1);
      break;
    case 7:
      value.reserveFields(0);
      for (int i = *rc::gen::inRange(0, 4); i > 0; --i)
        value.fieldForWrite(*Texts()) = Tree(depth - 1);
      break;
  }
  return value;
}

RC_GTEST_PROP(Codings, AValueTreeSurvivesJsonYamlAndHostRecords, ()) {
  const BindingValue tree = Tree(3);
  const std::string json = toJson(tree);
  RC_LOG() << json << "\n";
  RC_ASSERT(parseJson(json).value == tree);
  RC_ASSERT(parseYaml(json).value == tree);
  HostValue record = toHostValue(tree, nullptr);
  const BindingConversionResult back = fromHostValue(record, "x");
  ReleaseHostValue(record);
  RC_ASSERT(back.value == tree);
  if (tree.isEmpty()) return;  // no text at all, which RapidJSON does not read

  // Byte for byte RapidJSON's text, compact and pretty.
  rapidjson::Document document;
  document.Parse(json.c_str());
  rapidjson::StringBuffer compact;
  rapidjson::Writer<rapidjson::StringBuffer> writer(compact);
  document.Accept(writer);
  RC_ASSERT(json == compact.GetString());
  rapidjson::StringBuffer pretty;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> pretty_writer(pretty);
  pretty_writer.SetIndent(' ', 4);
  document.Accept(pretty_writer);
  RC_ASSERT(toJson(tree, nullptr, "\n") == pretty.GetString());
}

RC_GTEST_PROP(BindingValue, SortFieldsKeepsTheLastOrLastNonEmptyArrivalOfEachKey, ()) {
  // Few distinct keys, so that they repeat, many sharing their first eight bytes; counts either
  // side of the size sorted on the stack.
  const auto rule = *rc::gen::element(BindingValue::RepeatedKeys::kKeepLast,
                                      BindingValue::RepeatedKeys::kKeepLastNonEmpty);
  BindingValue sorted;
  std::map<std::string, std::int64_t> kept;  // arrival index, -1 for an empty value
  for (std::int64_t i = *rc::gen::inRange(0, 60); i > 0; --i) {
    const std::string key = (*rc::gen::arbitrary<bool>() ? "prefix__" : "") +
                            *rc::gen::container<std::string>(*rc::gen::inRange(0, 3),
                                                             rc::gen::elementOf(std::string("ab")));
    const bool empty = *rc::gen::arbitrary<bool>();
    BindingValue& field = sorted.appendFieldUnsorted(key);
    if (!empty) field.setSigned(i);
    if (!empty || rule == BindingValue::RepeatedKeys::kKeepLast || !kept.contains(key)) {
      kept[key] = empty ? -1 : i;
    }
  }
  sorted.sortFields(rule);
  BindingValue expected;
  for (const auto& [key, index] : kept) {
    if (index >= 0) {
      expected.fieldForWrite(key).setSigned(index);
    } else {
      expected.fieldForWrite(key);
    }
  }
  RC_ASSERT(sorted == expected);
  // Every dropped entry gave back its key.
  for (const auto& entry : kept) RC_ASSERT(sorted.store()->ReferenceCount(entry.first) == 1u);
}

RC_GTEST_PROP(ToJson, WritesAnyTextAsRapidJsonDoes, ()) {
  // Long plain runs with a few bytes to escape anywhere: the vector scan must see each alone.
  std::string text =
      *rc::gen::container<std::string>(rc::gen::elementOf(std::string("abc /\x7F\x80\xC3\xA9")));
  const int specials = *rc::gen::inRange(0, 3);
  for (int i = 0; i < specials; ++i) {
    const std::size_t at = *rc::gen::inRange<std::size_t>(0, text.size() + 1);
    text.insert(at, 1, *rc::gen::elementOf(std::string("\"\\\x1F\x1E\x01\n\b\f\r\t\0", 11)));
  }
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  const std::string json = toJson(BindingValue(text));
  RC_ASSERT(json == std::string(buffer.GetString(), buffer.GetSize()));
  RC_ASSERT(parseJson(json).value.getString() == text);
}

RC_GTEST_PROP(FormEncode, EscapesExactlyTheReservedBytesAndDecodesBack, ()) {
  // Any byte, not only printable ones.
  const std::string text =
      *rc::gen::container<std::string>(rc::gen::cast<char>(rc::gen::inRange(0, 256)));
  std::string expected;
  for (const char c : text) {
    const std::string_view unreserved =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
    if (unreserved.find(c) != std::string_view::npos) {
      expected += c;
    } else {
      expected +=
          "%" + std::string(1, "0123456789ABCDEF"[(c >> 4) & 15]) + "0123456789ABCDEF"[c & 15];
    }
  }
  const std::string encoded = FormEncode(text);
  RC_ASSERT(encoded == expected);
  RC_ASSERT(wire::PercentDecode(encoded, false) == text);
}

}  // namespace
}  // namespace binding
