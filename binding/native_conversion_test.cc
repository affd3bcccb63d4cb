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

class NativeConversionTest : public ::testing::Test {
 protected:
  NativeConversionTest() {
    BindingEnumBuilder<Color>(registry_)
        .AddValue(Color::kNone, "None")
        .AddValue(Color::kRed, "Red")
        .AddValue(Color::kGreen, "Green");
    BindingEnumBuilder<Shade>(registry_).AddValue(Shade::kDark, "Dark");
    BindingStructBuilder<Inner>(registry_)
        .AddField(&Inner::n, "n", "", kRequired)
        .AddField(&Inner::label, "label");
    BindingStructBuilder<Outer>(registry_)
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
    BindingStructBuilder<Session>(registry_)
        .AddOptionalField(&Session::token, "token")
        .AddField(&Session::hint, "hint", "", kOmitWhenDefault);
    BindingStructBuilder<Quiet>(registry_).AddField(&Quiet::zero, "zero", "", kOmitWhenDefault);
  }

  // The message of assigning `input` to `member` named "n"; "" on success.
  template <typename T>
  std::string Assign(T& member, const BindingValue& input) {
    BindingConversionResult result;
    AssignMember(result, member, input, "n", registry_);
    return std::string(errorText(result));
  }

  BindingTypeRegistry registry_;
};

template <typename T>
struct AssignRow {
  const char* label;
  BindingValue input;
  T expected;
  std::string message;
};

// The messages of a member named "n" ("" is success).
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

class AssignTest : public NativeConversionTest {
 public:
  // Each row assigns to a member holding `start`.
  template <typename T>
  void Check(std::vector<AssignRow<T>> rows, const T& start = T{}) {
    for (const AssignRow<T>& row : rows) {
      SCOPED_TRACE(row.label);
      T member = start;
      EXPECT_EQ(Assign(member, row.input), row.message);
      EXPECT_EQ(member, row.expected);
    }
  }
};

TEST_F(AssignTest, BoolAcceptsBoolsAndFourExactTexts) {
  Check<bool>({
      {"bool", BindingValue(true), true, ""},
      {"text 1", T("1"), true, ""},
      {"text true", T("true"), true, ""},
      {"text 0", T("0"), false, ""},
      {"text false", T("false"), false, ""},
      {"upper case", T("TRUE"), false,
       Format("TRUE", "bool") + ". Options are \"true\", \"false\", \"1\", \"0\"."},
      {"number", S(1), false, Invalid("bool", "signed")},
      {"missing", BindingValue(), false, kRequired},
  });
}

TEST_F(AssignTest, SignedTypesCheckTheirOwnBoundsForEveryInputKind) {
  Check<std::int32_t>({
      {"signed", S(-2147483648LL), -2147483647 - 1, ""},
      {"signed above", S(2147483648LL), 0, Range("2147483648", "int32")},
      {"signed below", S(-2147483649LL), 0, Range("-2147483649", "int32")},
      {"unsigned above", U(18446744073709551615u), 0, Range("18446744073709551615", "int32")},
      {"float truncates", F(-3.9), -3, ""},
      {"float above", F(1e10), 0, Range("1e+10", "int32")},
      {"float nan", F(std::nan("")), 0, Range("nan", "int32")},
      {"hex text", T("0x10"), 16, ""},
      {"octal text", T("-010"), -8, ""},
      {"junk after number", T("12abc"), 0, Format("12abc", "int32")},
      {"text above", T("2147483648"), 0, Range("2147483648", "int32")},
      {"text beyond 64 bits", T("99999999999999999999"), 0, Range("99999999999999999999", "int32")},
      {"enum", Enum(7, nullptr), 7, ""},
      {"bool", BindingValue(true), 0, Invalid("int32", "bool")},
      {"blob", Blob("1"), 0, Invalid("int32", "blob")},
      {"missing", BindingValue(), 0, kRequired},
  });
  Check<std::int8_t>({
      {"int8 above", S(128), 0, Range("128", "int8")},
      {"int8 text below", T("-129"), 0, Range("-129", "int8")},
      {"int8 enum", Enum(300, nullptr), 0, Range("300", "int8")},
  });
  Check<std::int64_t>({
      {"int64 minimum text", T("-9223372036854775808"), INT64_MIN, ""},
      {"int64 unsigned above", U(9223372036854775808u), 0, Range("9223372036854775808", "int64")},
      {"int64 float above", F(9.3e18), 0, Range("9.3e+18", "int64")},
      {"int64 float at the bound", F(9223372036854775808.0), INT64_MAX, ""},
  });
}

TEST_F(AssignTest, UnsignedTypesRejectNegativesAndValuesPastTheirMaximum) {
  Check<std::uint32_t>({
      {"unsigned above", U(4294967296u), 0u, Range("4294967296", "uint32")},
      {"unsigned maximum", U(4294967295u), 4294967295u, ""},
      {"float negative", F(-0.5), 0u, Range("-0.5", "uint32")},
      {"float truncates", F(7.99), 7u, ""},
      {"float zero", F(0.0), 0u, ""},
      {"text junk", T("1 "), 0u, Format("1 ", "uint32")},
      {"enum negative", Enum(-2, nullptr), 0u, Range("-2", "uint32")},
      {"structure", Structure(), 0u, Invalid("uint32", "structure")},
  });
  Check<std::uint64_t>({
      {"text maximum", T("18446744073709551615"), 18446744073709551615u, ""},
      {"text beyond", T("18446744073709551616"), 0u, Range("18446744073709551616", "uint64")},
      {"hex text", T("0xff"), 255u, ""},
      {"signed negative", S(-1), 0u, Range("-1", "uint64")},
      {"text negative", T("-1"), 0u, Range("-1", "uint64")},
  });
}

TEST_F(AssignTest, FloatingPointAcceptsNumbersAndWholeTexts) {
  Check<double>({
      {"signed", S(-4), -4.0, ""},
      {"unsigned", U(5), 5.0, ""},
      {"enum", Enum(2, nullptr), 2.0, ""},
      {"text", T("2.5e3"), 2500.0, ""},
      {"text junk", T("1.5x"), 0.0, Format("1.5x", "double")},
      {"text overflow", T("1e400"), 0.0, Range("1e400", "double")},
      {"bool", BindingValue(false), 0.0, Invalid("double", "bool")},
  });
  Check<float>({
      {"float above", F(1e39), 0.0f, Range("1e+39", "float")},
      {"text above", T("-1e39"), 0.0f, Range("-1e39", "float")},
      {"float", F(0.25), 0.25f, ""},
  });
  double member = 1.0;
  EXPECT_EQ(Assign(member, F(std::nan(""))), "");
  EXPECT_TRUE(std::isnan(member));
}

TEST_F(AssignTest, TextsTakeStringsAndNamesOfEnumeratorsAndOptionalOnesMayBeAbsent) {
  const std::string not_a_string =
      "Couldn't assign value to 'n' because the input is not a string.";
  const BindingValue green = Enum(2, &BindingStaticTypeOf<Color>());
  Check<std::string>(
      {
          {"text", T("abc"), "abc", ""},
          {"enum", green, "Green", ""},
          {"enum without such value", Enum(9, &BindingStaticTypeOf<Color>()), "",
           "9 is not a valid enumeration value for 'n'."},
          {"enum of unknown type", Enum(1, nullptr), "",
           "1 is not a valid enumeration value for 'n'."},
          {"number", S(5), "", not_a_string},
          {"missing", BindingValue(), "", kRequired},
      },
      std::string("old"));
  using Optional = std::optional<std::string>;
  Check<Optional>(
      {
          {"missing", BindingValue(), std::nullopt, ""},
          {"empty text", T(""), Optional(""), ""},
          {"enum", green, Optional("Green"), ""},
          {"number", S(5), std::nullopt, not_a_string},
      },
      Optional("old"));
}

TEST_F(AssignTest, EnumAcceptsValuesNamesAndNumericTextsOfItsEnumerators) {
  Check<Color>({
      {"signed", S(2), Color::kGreen, ""},
      {"signed unknown", S(3), Color::kNone, NotColor("3")},
      {"unsigned beyond 32 bits", U(4294967297u), Color::kNone, NotColor("4294967297")},
      {"name", T("Red"), Color::kRed, ""},
      {"name in another case", T("red"), Color::kNone, NotColor("red")},
      {"numeric text", T("0x2"), Color::kGreen, ""},
      {"numeric text unknown", T("5"), Color::kNone, NotColor("5")},
      {"numeric text too big", T("4294967297"), Color::kNone, NotColor("4294967297")},
      {"enum of another type", Enum(1, &BindingStaticTypeOf<Shade>()), Color::kRed, ""},
      {"enum unknown value", Enum(4, &BindingStaticTypeOf<Color>()), Color::kNone, NotColor("4")},
      {"float", F(1.0), Color::kNone,
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type float."},
      {"missing", BindingValue(), Color::kNone, kRequired},
  });
}

TEST_F(AssignTest, BlobAndObjectMembers) {
  Check<std::vector<std::uint8_t>>({
      {"blob", Blob("ab"), {'a', 'b'}, ""},
      {"text",
       T("ab"),
       {},
       "Couldn't assign value to 'n' of type blob because the input not a blob."},
  });
  Check<BindingValue>({{"number", S(4), S(4), ""}, {"missing", BindingValue(), BindingValue(), ""}},
                      T("old"));
}

TEST_F(AssignTest, VectorsAndMapsAreEmptiedFirstAndReportTheirOwnName) {
  std::vector<std::int32_t> numbers = {9, 9};
  EXPECT_EQ(Assign(numbers, T("x")),
            "Couldn't assign value to 'n' of type vector because the input not a collection.");
  EXPECT_TRUE(numbers.empty());
  EXPECT_EQ(Assign(numbers, Json(R"([1, null, "oops"])")), Format("oops", "int32"));
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 0, 0}));
  EXPECT_EQ(Assign(numbers, Json(R"([1, null, "3"])")), "");
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 0, 3}));

  std::map<std::string, std::int32_t> counts = {{"stale", 1}};
  EXPECT_EQ(Assign(counts, Json("[]")),
            "Couldn't assign value to 'n' of type map because the input not a structure.");
  EXPECT_TRUE(counts.empty());
  EXPECT_EQ(Assign(counts, Json(R"({"b": 2, "a": "1"})")), "");
  EXPECT_EQ(counts, (std::map<std::string, std::int32_t>{{"a", 1}, {"b", 2}}));
}

TEST_F(AssignTest, StructFailuresNameTheStructAndTheField) {
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
    EXPECT_EQ(errorText(fromValue(input, inner, registry_, "arg")), row.message);
    EXPECT_EQ(errorText(fromValue(input, &inner, BindingStaticTypeOf<Inner>(), registry_, "arg")),
              row.message);
  }
  // Elements of a vector are named by the vector.
  Outer outer;
  EXPECT_EQ(errorText(fromValue(Json(R"({"colors": ["Red", "Blue"]})"), outer, registry_)),
            "Blue is not a valid Color enumeration value for 'colors'.");
  EXPECT_EQ(errorText(fromValue(Json(R"({"items": [null, {"label": "x"}]})"), outer, registry_)),
            "Couldn't assign value to 'items' of type Inner because the input structure doesn't "
            "have required field 'n'.");
  Unregistered unregistered;
  EXPECT_EQ(errorText(fromValue(Structure(), unregistered, registry_, "arg")),
            "Couldn't assign value to 'arg' because the input is an unregistered structure or not "
            "a structure at all.");
  EXPECT_EQ(errorText(toValue(unregistered, registry_)),
            "Couldn't convert native value because it's an unregistered structure.");
}

TEST_F(AssignTest, StructKeepsFieldsAssignedBeforeAFailureAndSkipsAbsentOnes) {
  Outer outer{.inner = {0, "untouched"}};
  EXPECT_EQ(errorText(fromValue(Json(R"({"ratio": 0.5, "enabled": "maybe", "unknown": 1})"), outer,
                                registry_, "body")),
            "Value maybe for 'enabled' of type bool is in an incorrect format. Options are "
            "\"true\", \"false\", \"1\", \"0\".");
  EXPECT_EQ(outer.ratio, 0.5);
  EXPECT_EQ(outer.inner.label, "untouched");
}

TEST_F(NativeConversionTest, ProducesAStructureInKeyOrderWithNativeKindsAndReadsItBack) {
  Outer outer{.inner = {7, "seven"},
              .items = {{1, "a"}},
              .colors = {Color::kGreen},
              .counts = {{"z", 1}},
              .blob = {1, 2},
              .extra = T("free"),
              .color = Color::kRed,
              .ratio = 1.5};
  EXPECT_EQ(toJson(toValue(outer, registry_).value, &registry_),  // quiet left out
            R"({"blob":"AQI=","color":"Red","colors":["Green"],"counts":{"z":1},"enabled":false,)"
            R"("extra":"free","inner":{"label":"seven","n":7},"items":[{"label":"a","n":1}],)"
            R"("ratio":1.5})");
  outer.quiet = 3;
  BindingConversionResult produced = toValue(outer, registry_);
  EXPECT_EQ(produced.value.field("inner").field("n"), S(7));  // native kinds
  EXPECT_EQ(produced.value.field("quiet"), U(3));
  Outer back;
  EXPECT_EQ(errorText(fromValue(produced.value, back, registry_)), "");
  EXPECT_EQ(toValue(back, registry_).value, produced.value);

  // Omitting every field leaves an empty structure, not an empty value.
  EXPECT_EQ(toValue(Quiet{}, registry_).value, Structure());

  // The record entry points go through the static type.
  Inner inner{3, "x"};
  produced = toValue(&inner, BindingStaticTypeOf<Inner>(), registry_);
  EXPECT_EQ(toJson(produced.value), R"({"label":"x","n":3})");
  EXPECT_EQ(
      errorText(fromValue(produced.value, &back.inner, BindingStaticTypeOf<Inner>(), registry_)),
      "");
  EXPECT_EQ(back.inner.label, "x");
}

TEST_F(NativeConversionTest, OptionalTextIsAbsentExactlyWhenTheValueIsEmpty) {
  // A type of its own, of the string kind, whose optional mark the builder set.
  const BindingTypeDescriptor* session = registry_.findType(StaticTypeIdOf<Session>());
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->fields[0].optional, 1);
  EXPECT_EQ(session->fields[1].optional, 0);
  EXPECT_EQ(session->fields[0].type.kind, NativeTypeKind::kString);
  EXPECT_NE(session->fields[0].staticType->id(), BindingStaticTypeOf<std::string>().id());

  // Absent goes out as null, or not at all when left out by default.
  EXPECT_EQ(toJson(toValue(Session{}, registry_).value), R"({"token":null})");
  EXPECT_EQ(toJson(toValue(Session{"t", "h"}, registry_).value), R"({"hint":"h","token":"t"})");

  std::optional<std::string> text = "old";
  EXPECT_EQ(errorText(fromValue(BindingValue(), text, registry_)), "");
  EXPECT_FALSE(text.has_value());
  Session back{"keep", "keep"};  // an absent field is untouched
  EXPECT_EQ(errorText(fromValue(Json(R"({"hint":"h"})"), back, registry_)), "");
  EXPECT_EQ(toJson(toValue(back, registry_).value), R"({"hint":"h","token":"keep"})");
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
