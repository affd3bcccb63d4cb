// Laws of the codings over generated values: a native struct survives the trip through its
// value tree, JSON text and back, and through YAML, which reads that JSON too (blobs, which
// text carries as base64 strings, are not read back from text by design); the JSON text of
// any string is what RapidJSON's own writer gives; form encoding decodes back to any bytes.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding_static_type.h"
#include "binding/binding_struct_builder.h"
#include "binding/binding_type_registry.h"
#include "binding/form_encoding.h"
#include "binding/json_bridge.h"
#include "binding/native_conversion.h"
#include "binding/yaml_bridge.h"
#include "gtest/gtest.h"
#include "rapidcheck.h"
#include "rapidcheck/gtest.h"
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

rc::Gen<std::string> Over(std::string alphabet) {
  return rc::gen::container<std::string>(rc::gen::elementOf(std::move(alphabet)));
}

// Any byte, not only printable ones.
rc::Gen<std::string> Bytes() {
  return rc::gen::container<std::string>(rc::gen::cast<char>(rc::gen::inRange(0, 256)));
}

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

class Registry {
 public:
  Registry() {
    BindingEnumBuilder<Tone>(registry_).AddValue(Tone::kLow, "Low").AddValue(Tone::kHigh, "High");
    BindingStructBuilder<Sample>(registry_)
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
  }
  BindingTypeRegistry registry_;
};

const BindingTypeRegistry& Types() {
  static const Registry registry;
  return registry.registry_;
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

RC_GTEST_PROP(ToJson, WritesAnyTextAsRapidJsonDoes, ()) {
  // Long plain runs with a few bytes to escape anywhere: the vector scan must see each alone.
  std::string text = *Over("abc /\x7F\x80\xC3\xA9");
  const int specials = *rc::gen::inRange(0, 3);
  for (int i = 0; i < specials; ++i) {
    const std::size_t at = *rc::gen::inRange<std::size_t>(0, text.size() + 1);
    text.insert(at, 1, *rc::gen::elementOf(std::string("\"\\\x1F\x1E\x01\n\b", 7)));
  }
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  const std::string json = toJson(BindingValue(text));
  RC_ASSERT(json == std::string(buffer.GetString(), buffer.GetSize()));
  RC_ASSERT(parseJson(json).value.getString() == text);
}

RC_GTEST_PROP(FormEncode, LeavesOnlyUnreservedBytesAndEscapesAndDecodesBack, ()) {
  const std::string text = *Bytes();
  const std::string encoded = FormEncode(text);
  RC_ASSERT(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789-_.~%") == std::string::npos);
  RC_ASSERT(wire::PercentDecode(encoded, false) == text);
}

}  // namespace
}  // namespace binding
