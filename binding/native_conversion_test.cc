#include "binding/native_conversion.h"

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding_struct_builder.h"
#include "binding/json_bridge.h"
#include "gtest/gtest.h"

namespace conversion_test {

enum class Color : std::int32_t { kNone = 0, kRed = 1, kGreen = 2 };
ULIX_BINDING_TYPE(Color, "Color")

enum class Shade : std::int32_t { kDark = 1 };
ULIX_BINDING_TYPE(Shade, "Shade")

struct Inner {
  std::int32_t n = 0;
  std::string label;
};
ULIX_BINDING_TYPE(Inner, "Inner")

struct Outer {
  Inner inner;
  std::vector<Inner> items;
  std::vector<Color> colors;
  std::map<std::string, std::int32_t> counts;
  std::vector<std::uint8_t> blob;
  binding::BindingValue extra;
  std::uint32_t quiet = 0;
  Color color = Color::kNone;
  double ratio = 0.0;
  bool enabled = false;
};
ULIX_BINDING_TYPE(Outer, "Outer")

struct Quiet {
  std::int32_t zero = 0;
};
ULIX_BINDING_TYPE(Quiet, "Quiet")

struct Session {
  std::optional<std::string> token;
  std::optional<std::string> hint;
};
ULIX_BINDING_TYPE(Session, "Session")

struct Unregistered {
  std::int32_t n = 0;
};
ULIX_BINDING_TYPE(Unregistered, "Unregistered")

}  // namespace conversion_test

namespace binding {
namespace {

using conversion_test::Color;
using conversion_test::Inner;
using conversion_test::Outer;
using conversion_test::Quiet;
using conversion_test::Session;
using conversion_test::Shade;
using conversion_test::Unregistered;

BindingValue Enum(std::int32_t number, const BindingStaticType* type) {
  BindingValue value;
  value.setEnum(number, type);
  return value;
}

BindingValue Blob(std::string_view bytes) {
  return BindingValue(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

BindingValue Json(const char* text) { return parseJson(text).value; }

// Inputs of each kind.
BindingValue S(std::int64_t number) { return BindingValue(number); }
BindingValue U(std::uint64_t number) { return BindingValue(number); }
BindingValue F(double number) { return BindingValue(number); }
BindingValue T(const char* text) { return BindingValue(text); }

BindingValue Structure() {
  BindingValue value;
  value.reserveFields(0);
  return value;
}

const BindingTypeRegistry& Types() {
  static const BindingTypeRegistry* const registry = [] {
    auto* types = new BindingTypeRegistry;
    BindingEnumBuilder<Color>(*types)
        .AddValue(Color::kNone, "None")
        .AddValue(Color::kRed, "Red")
        .AddValue(Color::kGreen, "Green");
    BindingEnumBuilder<Shade>(*types).AddValue(Shade::kDark, "Dark");
    BindingStructBuilder<Inner>(*types)
        .AddField(&Inner::n, "n", "", kRequired)
        .AddField(&Inner::label, "label");
    BindingStructBuilder<Outer>(*types)
        .AddField(&Outer::inner, "inner")
        .AddField(&Outer::items, "items")
        .AddField(&Outer::colors, "colors")
        .AddField(&Outer::counts, "counts")
        .AddField(&Outer::blob, "blob")
        .AddField(&Outer::extra, "extra")
        .AddField(&Outer::quiet, "quiet", "", kOmitWhenDefault)
        .AddField(&Outer::color, "color")
        .AddField(&Outer::ratio, "ratio")
        .AddField(&Outer::enabled, "enabled");
    BindingStructBuilder<Session>(*types)
        .AddOptionalField(&Session::token, "token")
        .AddField(&Session::hint, "hint", "", kOmitWhenDefault);
    BindingStructBuilder<Quiet>(*types).AddField(&Quiet::zero, "zero", "", kOmitWhenDefault);
    return types;
  }();
  return *registry;
}

// The message of assigning `input` to `member` named "n"; "" on success.
template <typename T>
std::string Assign(T& member, const BindingValue& input) {
  BindingConversionResult result;
  AssignMember(result, member, input, "n", Types());
  return std::string(errorText(result));
}

// Assigns `input` to a member named "n" that holds `member`: the member as JSON text after
// success, else the message and what is left in the member when that is not its default.
template <typename T>
std::string From(T member, const BindingValue& input) {
  const std::string message = Assign(member, input);
  if (message.empty()) return toJson(toValue(member, Types()).value, &Types());
  return message + (member == T{} ? "" : " " + toJson(toValue(member, Types()).value));
}
template <typename T>
std::string As(const BindingValue& input) {
  return From(T{}, input);
}
std::string Text(const BindingValue& input) { return From<std::string>("old", input); }
std::string MaybeText(const BindingValue& input) {
  return From<std::optional<std::string>>("old", input);
}
std::string Object(const BindingValue& input) { return From(BindingValue("old"), input); }
std::string Numbers(const BindingValue& input) {
  return From<std::vector<std::int32_t>>({9, 9}, input);
}
std::string Counts(const BindingValue& input) {
  return From<std::map<std::string, std::int32_t>>({{"stale", 1}}, input);
}

// The messages of a member named "n".
std::string Range(std::string_view value, std::string_view type) {
  return "Value " + std::string(value) + " for 'n' of type " + std::string(type) +
         " is out of range";
}
std::string Format(std::string_view value, std::string_view type) {
  return "Value " + std::string(value) + " for 'n' of type " + std::string(type) +
         " is in an incorrect format";
}
std::string Invalid(std::string_view type, std::string_view kind) {
  return "Couldn't assign value to 'n' of type " + std::string(type) +
         " because the input is of an invalid type " + std::string(kind) + ".";
}
std::string NotColor(std::string_view value) {
  return std::string(value) + " is not a valid Color enumeration value for 'n'.";
}
const char kRequired[] = "A value for 'n' is required.";

TEST(AssignMember, EachTypeTakesItsInputKindsWithinItsBoundsAndNamesEveryFailure) {
  const std::string not_a_string =
      "Couldn't assign value to 'n' because the input is not a string.";
  const BindingValue green = Enum(2, &BindingStaticTypeOf<Color>());
  const struct {
    std::string (*run)(const BindingValue&);
    BindingValue input;
    std::string expected;
  } rows[] = {
      // bool: bools and four exact texts
      {As<bool>, BindingValue(true), "true"},
      {As<bool>, T("1"), "true"},
      {As<bool>, T("true"), "true"},
      {As<bool>, T("0"), "false"},
      {As<bool>, T("false"), "false"},
      {As<bool>, T("TRUE"),
       Format("TRUE", "bool") + ". Options are \"true\", \"false\", \"1\", \"0\"."},
      {As<bool>, S(1), Invalid("bool", "signed")},
      {As<bool>, BindingValue(), kRequired},
      // signed integers: their own bounds for every input kind
      {As<std::int32_t>, S(-2147483648LL), "-2147483648"},
      {As<std::int32_t>, S(2147483648LL), Range("2147483648", "int32")},
      {As<std::int32_t>, S(-2147483649LL), Range("-2147483649", "int32")},
      {As<std::int32_t>, U(18446744073709551615u), Range("18446744073709551615", "int32")},
      {As<std::int32_t>, F(-3.9), "-3"},
      {As<std::int32_t>, F(1e10), Range("1e+10", "int32")},
      {As<std::int32_t>, F(std::nan("")), Range("nan", "int32")},
      {As<std::int32_t>, T("0x10"), "16"},
      {As<std::int32_t>, T("-010"), "-8"},
      {As<std::int32_t>, T("12abc"), Format("12abc", "int32")},
      {As<std::int32_t>, T("2147483648"), Range("2147483648", "int32")},
      {As<std::int32_t>, T("99999999999999999999"), Range("99999999999999999999", "int32")},
      {As<std::int32_t>, Enum(7, nullptr), "7"},
      {As<std::int32_t>, BindingValue(true), Invalid("int32", "bool")},
      {As<std::int32_t>, Blob("1"), Invalid("int32", "blob")},
      {As<std::int32_t>, BindingValue(), kRequired},
      {As<std::int8_t>, S(128), Range("128", "int8")},
      {As<std::int8_t>, T("-129"), Range("-129", "int8")},
      {As<std::int8_t>, Enum(300, nullptr), Range("300", "int8")},
      {As<std::int64_t>, T("-9223372036854775808"), "-9223372036854775808"},
      {As<std::int64_t>, U(9223372036854775808u), Range("9223372036854775808", "int64")},
      {As<std::int64_t>, F(9.3e18), Range("9.3e+18", "int64")},
      {As<std::int64_t>, F(9223372036854775808.0), "9223372036854775807"},
      // unsigned integers: no negatives, nothing past their maximum
      {As<std::uint32_t>, U(4294967296u), Range("4294967296", "uint32")},
      {As<std::uint32_t>, U(4294967295u), "4294967295"},
      {As<std::uint32_t>, F(-0.5), Range("-0.5", "uint32")},
      {As<std::uint32_t>, F(7.99), "7"},
      {As<std::uint32_t>, F(0.0), "0"},
      {As<std::uint32_t>, T("1 "), Format("1 ", "uint32")},
      {As<std::uint32_t>, Enum(-2, nullptr), Range("-2", "uint32")},
      {As<std::uint32_t>, Structure(), Invalid("uint32", "structure")},
      {As<std::uint64_t>, T("18446744073709551615"), "18446744073709551615"},
      {As<std::uint64_t>, T("18446744073709551616"), Range("18446744073709551616", "uint64")},
      {As<std::uint64_t>, T("0xff"), "255"},
      {As<std::uint64_t>, S(-1), Range("-1", "uint64")},
      {As<std::uint64_t>, T("-1"), Range("-1", "uint64")},
      // floating point: numbers and whole texts
      {As<double>, S(-4), "-4.0"},
      {As<double>, U(5), "5.0"},
      {As<double>, Enum(2, nullptr), "2.0"},
      {As<double>, T("2.5e3"), "2500.0"},
      {As<double>, T("1.5x"), Format("1.5x", "double")},
      {As<double>, T("1e400"), Range("1e400", "double")},
      {As<double>, BindingValue(false), Invalid("double", "bool")},
      {As<double>, F(std::nan("")), "null"},
      {As<float>, F(1e39), Range("1e+39", "float")},
      {As<float>, T("-1e39"), Range("-1e39", "float")},
      {As<float>, F(0.25), "0.25"},
      // texts: strings and names of enumerators; an optional one may be absent
      {Text, T("abc"), "\"abc\""},
      {Text, green, "\"Green\""},
      {Text, Enum(9, &BindingStaticTypeOf<Color>()), "9 is not a valid enumeration value for 'n'."},
      {Text, Enum(1, nullptr), "1 is not a valid enumeration value for 'n'."},
      {Text, S(5), not_a_string},
      {Text, BindingValue(), kRequired},
      {MaybeText, BindingValue(), ""},
      {MaybeText, T(""), "\"\""},
      {MaybeText, green, "\"Green\""},
      {MaybeText, S(5), not_a_string},
      // enums: values, names and numeric texts of their enumerators
      {As<Color>, S(2), "\"Green\""},
      {As<Color>, S(3), NotColor("3")},
      {As<Color>, U(4294967297u), NotColor("4294967297")},
      {As<Color>, T("Red"), "\"Red\""},
      {As<Color>, T("red"), NotColor("red")},
      {As<Color>, T("0x2"), "\"Green\""},
      {As<Color>, T("5"), NotColor("5")},
      {As<Color>, T("4294967297"), NotColor("4294967297")},
      {As<Color>, Enum(1, &BindingStaticTypeOf<Shade>()), "\"Red\""},
      {As<Color>, Enum(4, &BindingStaticTypeOf<Color>()), NotColor("4")},
      {As<Color>, F(1.0),
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type float."},
      {As<Color>, BindingValue(), kRequired},
      // blobs and free values
      {As<std::vector<std::uint8_t>>, Blob("ab"), "\"YWI=\""},
      {As<std::vector<std::uint8_t>>, T("ab"),
       "Couldn't assign value to 'n' of type blob because the input not a blob."},
      {Object, S(4), "4"},
      {Object, BindingValue(), ""},
      // vectors and maps: emptied first, named by themselves
      {Numbers, T("x"),
       "Couldn't assign value to 'n' of type vector because the input not a collection."},
      {Numbers, Json(R"([1, null, "oops"])"), Format("oops", "int32") + " [1,0,0]"},
      {Numbers, Json(R"([1, null, "3"])"), "[1,0,3]"},
      {Counts, Json("[]"),
       "Couldn't assign value to 'n' of type map because the input not a structure."},
      {Counts, Json(R"({"b": 2, "a": "1"})"), R"({"a":1,"b":2})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(toJson(row.input) + " -> " + row.expected);
    EXPECT_EQ(row.run(row.input), row.expected);
  }
}

TEST(AssignMember, StructFailuresNameTheStructAndTheFieldAndKeepWhatWasAssigned) {
  const std::string not_structure =
      "Couldn't assign value to 'arg' of type Inner because the input not a structure.";
  const std::string no_n =
      "Couldn't assign value to 'arg' of type Inner because the input structure doesn't have "
      "required field 'n'.";
  struct Row {
    const char* input;  // JSON
    std::string message;
  };
  const Row rows[] = {
      {"[]", not_structure},
      {R"({"label": "x"})", no_n},
      {R"({"n": null})", no_n},
      {R"({"n": "abc"})", "Value abc for 'n' of type int32 is in an incorrect format"},
      // The missing-value test belongs to whoever owns the member; a whole record given
      // nothing is simply not a structure.
      {"", not_structure},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    Inner inner;
    const BindingValue input = Json(row.input);
    EXPECT_EQ(errorText(fromValue(input, inner, Types(), "arg")), row.message);
    EXPECT_EQ(errorText(fromValue(input, &inner, BindingStaticTypeOf<Inner>(), Types(), "arg")),
              row.message);
  }
  // Elements of a vector are named by the vector.
  Outer outer;
  EXPECT_EQ(errorText(fromValue(Json(R"({"colors": ["Red", "Blue"]})"), outer, Types())),
            "Blue is not a valid Color enumeration value for 'colors'.");
  EXPECT_EQ(errorText(fromValue(Json(R"({"items": [null, {"label": "x"}]})"), outer, Types())),
            "Couldn't assign value to 'items' of type Inner because the input structure doesn't "
            "have required field 'n'.");
  Unregistered unregistered;
  EXPECT_EQ(errorText(fromValue(Structure(), unregistered, Types(), "arg")),
            "Couldn't assign value to 'arg' because the input is an unregistered structure or not "
            "a structure at all.");
  EXPECT_EQ(errorText(toValue(unregistered, Types())),
            "Couldn't convert native value because it's an unregistered structure.");

  // Fields assigned before a failure are kept; absent ones are skipped.
  outer = Outer();
  outer.inner = {0, "untouched"};
  EXPECT_EQ(errorText(fromValue(Json(R"({"ratio": 0.5, "enabled": "maybe", "unknown": 1})"), outer,
                                Types(), "body")),
            "Value maybe for 'enabled' of type bool is in an incorrect format. Options are "
            "\"true\", \"false\", \"1\", \"0\".");
  EXPECT_EQ(outer.ratio, 0.5);
  EXPECT_EQ(outer.inner.label, "untouched");
}

TEST(NativeConversion, ProducesAStructureInKeyOrderWithNativeKindsAndReadsItBack) {
  Outer outer{.inner = {7, "seven"},
              .items = {{1, "a"}},
              .colors = {Color::kGreen},
              .counts = {{"z", 1}},
              .blob = {1, 2},
              .extra = T("free"),
              .color = Color::kRed,
              .ratio = 1.5};
  EXPECT_EQ(toJson(toValue(outer, Types()).value, &Types()),  // quiet left out
            R"({"blob":"AQI=","color":"Red","colors":["Green"],"counts":{"z":1},"enabled":false,)"
            R"("extra":"free","inner":{"label":"seven","n":7},"items":[{"label":"a","n":1}],)"
            R"("ratio":1.5})");
  outer.quiet = 3;
  BindingConversionResult produced = toValue(outer, Types());
  EXPECT_EQ(produced.value.field("inner").field("n"), S(7));  // native kinds
  EXPECT_EQ(produced.value.field("quiet"), U(3));
  Outer back;
  EXPECT_EQ(errorText(fromValue(produced.value, back, Types())), "");
  EXPECT_EQ(toValue(back, Types()).value, produced.value);

  // Omitting every field leaves an empty structure, not an empty value.
  EXPECT_EQ(toValue(Quiet{}, Types()).value, Structure());

  // The record entry points go through the static type.
  Inner inner{3, "x"};
  produced = toValue(&inner, BindingStaticTypeOf<Inner>(), Types());
  EXPECT_EQ(toJson(produced.value), R"({"label":"x","n":3})");
  EXPECT_EQ(
      errorText(fromValue(produced.value, &back.inner, BindingStaticTypeOf<Inner>(), Types())), "");
  EXPECT_EQ(back.inner.label, "x");
}

TEST(NativeConversion, OptionalTextIsAbsentExactlyWhenTheValueIsEmpty) {
  // A type of its own, of the string kind, whose optional mark the builder set.
  const BindingTypeDescriptor* session = Types().findType(StaticTypeIdOf<Session>());
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->fields[0].optional, 1);
  EXPECT_EQ(session->fields[1].optional, 0);
  EXPECT_EQ(session->fields[0].type.kind, NativeTypeKind::kString);
  EXPECT_NE(session->fields[0].staticType->id(), BindingStaticTypeOf<std::string>().id());

  // Absent goes out as null, or not at all when left out by default.
  EXPECT_EQ(toJson(toValue(Session{}, Types()).value), R"({"token":null})");
  EXPECT_EQ(toJson(toValue(Session{"t", "h"}, Types()).value), R"({"hint":"h","token":"t"})");

  std::optional<std::string> text = "old";
  EXPECT_EQ(errorText(fromValue(BindingValue(), text, Types())), "");
  EXPECT_FALSE(text.has_value());
  Session back{"keep", "keep"};  // an absent field is untouched
  EXPECT_EQ(errorText(fromValue(Json(R"({"hint":"h"})"), back, Types())), "");
  EXPECT_EQ(toJson(toValue(back, Types()).value), R"({"hint":"h","token":"keep"})");
}

TEST(IsDefaultValue, MatchesTheOmitRules) {
  std::string defaults;  // '+' for a default value
  for (const BindingValue& value :
       {BindingValue(), F(0.0), F(std::nan("")), T(""), Json("[]"), U(1), Enum(0, nullptr)}) {
    defaults += IsDefaultValue(value) ? '+' : '-';
  }
  EXPECT_EQ(defaults, "++-++-+");
}

}  // namespace
}  // namespace binding
