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

BindingValue Collection() {
  BindingValue value;
  value.reserve(0);
  return value;
}

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
  const char* message;
};

class AssignTest : public NativeConversionTest {
 public:
  template <typename T>
  void Check(std::vector<AssignRow<T>> rows) {
    for (const AssignRow<T>& row : rows) {
      SCOPED_TRACE(row.label);
      T member{};
      EXPECT_EQ(Assign(member, row.input), row.message);
      EXPECT_EQ(member, row.expected);
    }
  }
};

TEST_F(AssignTest, BoolAcceptsBoolsAndFourExactTexts) {
  Check<bool>({
      {"bool", BindingValue(true), true, ""},
      {"text 1", BindingValue("1"), true, ""},
      {"text true", BindingValue("true"), true, ""},
      {"text 0", BindingValue("0"), false, ""},
      {"text false", BindingValue("false"), false, ""},
      {"upper case", BindingValue("TRUE"), false,
       "Value TRUE for 'n' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"number", BindingValue(std::int64_t{1}), false,
       "Couldn't assign value to 'n' of type bool because the input is of an invalid type "
       "signed."},
      {"structure", Structure(), false,
       "Couldn't assign value to 'n' of type bool because the input is of an invalid type "
       "structure."},
      {"missing", BindingValue(), false, "A value for 'n' is required."},
  });
}

TEST_F(AssignTest, Int32ChecksBoundsForEveryInputKind) {
  Check<std::int32_t>({
      {"signed", BindingValue(std::int64_t{-2147483648LL}), -2147483647 - 1, ""},
      {"signed above", BindingValue(std::int64_t{2147483648LL}), 0,
       "Value 2147483648 for 'n' of type int32 is out of range"},
      {"signed below", BindingValue(std::int64_t{-2147483649LL}), 0,
       "Value -2147483649 for 'n' of type int32 is out of range"},
      {"unsigned above", BindingValue(std::uint64_t{18446744073709551615u}), 0,
       "Value 18446744073709551615 for 'n' of type int32 is out of range"},
      {"float truncates", BindingValue(-3.9), -3, ""},
      {"float above", BindingValue(1e10), 0, "Value 1e+10 for 'n' of type int32 is out of range"},
      {"float nan", BindingValue(std::nan("")), 0,
       "Value nan for 'n' of type int32 is out of range"},
      {"hex text", BindingValue("0x10"), 16, ""},
      {"octal text", BindingValue("-010"), -8, ""},
      {"junk after number", BindingValue("12abc"), 0,
       "Value 12abc for 'n' of type int32 is in an incorrect format"},
      {"text above", BindingValue("2147483648"), 0,
       "Value 2147483648 for 'n' of type int32 is out of range"},
      {"text beyond 64 bits", BindingValue("99999999999999999999"), 0,
       "Value 99999999999999999999 for 'n' of type int32 is out of range"},
      {"enum", Enum(7, nullptr), 7, ""},
      {"bool", BindingValue(true), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type bool."},
      {"blob", Blob("1"), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type blob."},
      {"collection", Collection(), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type "
       "collection."},
      {"missing", BindingValue(), 0, "A value for 'n' is required."},
  });
}

TEST_F(AssignTest, NarrowAndWideSignedTypesUseTheirOwnBoundsAndNames) {
  Check<std::int8_t>({
      {"int8 above", BindingValue(std::int64_t{128}), 0,
       "Value 128 for 'n' of type int8 is out of range"},
      {"int8 text below", BindingValue("-129"), 0,
       "Value -129 for 'n' of type int8 is out of range"},
      {"int8 enum", Enum(300, nullptr), 0, "Value 300 for 'n' of type int8 is out of range"},
  });
  Check<std::int64_t>({
      {"int64 minimum text", BindingValue("-9223372036854775808"), INT64_MIN, ""},
      {"int64 unsigned above", BindingValue(std::uint64_t{9223372036854775808u}), 0,
       "Value 9223372036854775808 for 'n' of type int64 is out of range"},
      {"int64 float above", BindingValue(9.3e18), 0,
       "Value 9.3e+18 for 'n' of type int64 is out of range"},
  });
}

TEST_F(AssignTest, UnsignedTypesRejectNegativesAndValuesPastTheirMaximum) {
  Check<std::uint32_t>({
      {"unsigned above", BindingValue(std::uint64_t{4294967296u}), 0u,
       "Value 4294967296 for 'n' of type uint32 is out of range"},
      {"unsigned maximum", BindingValue(std::uint64_t{4294967295u}), 4294967295u, ""},
      {"signed negative", BindingValue(std::int64_t{-1}), 0u,
       "Value -1 for 'n' of type uint32 is out of range"},
      {"float negative", BindingValue(-0.5), 0u,
       "Value -0.5 for 'n' of type uint32 is out of range"},
      {"float truncates", BindingValue(7.99), 7u, ""},
      {"text negative", BindingValue("-1"), 0u, "Value -1 for 'n' of type uint32 is out of range"},
      {"text junk", BindingValue("1 "), 0u,
       "Value 1  for 'n' of type uint32 is in an incorrect format"},
      {"enum negative", Enum(-2, nullptr), 0u, "Value -2 for 'n' of type uint32 is out of range"},
      {"structure", Structure(), 0u,
       "Couldn't assign value to 'n' of type uint32 because the input is of an invalid type "
       "structure."},
  });
  Check<std::uint64_t>({
      {"text maximum", BindingValue("18446744073709551615"), 18446744073709551615u, ""},
      {"text beyond", BindingValue("18446744073709551616"), 0u,
       "Value 18446744073709551616 for 'n' of type uint64 is out of range"},
      {"text negative", BindingValue("-1"), 0u, "Value -1 for 'n' of type uint64 is out of range"},
      {"hex text", BindingValue("0xff"), 255u, ""},
  });
}

TEST_F(AssignTest, FloatingPointAcceptsNumbersAndWholeTexts) {
  Check<double>({
      {"signed", BindingValue(std::int64_t{-4}), -4.0, ""},
      {"unsigned", BindingValue(std::uint64_t{5}), 5.0, ""},
      {"enum", Enum(2, nullptr), 2.0, ""},
      {"text", BindingValue("2.5e3"), 2500.0, ""},
      {"text junk", BindingValue("1.5x"), 0.0,
       "Value 1.5x for 'n' of type double is in an incorrect format"},
      {"text overflow", BindingValue("1e400"), 0.0,
       "Value 1e400 for 'n' of type double is out of range"},
      {"bool", BindingValue(false), 0.0,
       "Couldn't assign value to 'n' of type double because the input is of an invalid type "
       "bool."},
  });
  Check<float>({
      {"float above", BindingValue(1e39), 0.0f,
       "Value 1e+39 for 'n' of type float is out of range"},
      {"text above", BindingValue("-1e39"), 0.0f,
       "Value -1e39 for 'n' of type float is out of range"},
      {"float", BindingValue(0.25), 0.25f, ""},
  });
  double member = 1.0;
  EXPECT_EQ(Assign(member, BindingValue(std::nan(""))), "");
  EXPECT_TRUE(std::isnan(member));
}

TEST_F(AssignTest, StringTakesTextsAndNamesOfEnumerators) {
  Check<std::string>({
      {"text", BindingValue("abc"), "abc", ""},
      {"enum", Enum(2, &BindingStaticTypeOf<Color>()), "Green", ""},
      {"enum without such value", Enum(9, &BindingStaticTypeOf<Color>()), "",
       "9 is not a valid enumeration value for 'n'."},
      {"enum of unknown type", Enum(1, nullptr), "", "1 is not a valid enumeration value for 'n'."},
      {"number", BindingValue(std::int64_t{5}), "",
       "Couldn't assign value to 'n' because the input is not a string."},
      {"missing", BindingValue(), "", "A value for 'n' is required."},
  });
}

TEST_F(AssignTest, EnumAcceptsValuesNamesAndNumericTextsOfItsEnumerators) {
  Check<Color>({
      {"signed", BindingValue(std::int64_t{2}), Color::kGreen, ""},
      {"signed unknown", BindingValue(std::int64_t{3}), Color::kNone,
       "3 is not a valid Color enumeration value for 'n'."},
      {"unsigned beyond 32 bits", BindingValue(std::uint64_t{4294967297u}), Color::kNone,
       "4294967297 is not a valid Color enumeration value for 'n'."},
      {"name", BindingValue("Red"), Color::kRed, ""},
      {"name in another case", BindingValue("red"), Color::kNone,
       "red is not a valid Color enumeration value for 'n'."},
      {"numeric text", BindingValue("0x2"), Color::kGreen, ""},
      {"numeric text unknown", BindingValue("5"), Color::kNone,
       "5 is not a valid Color enumeration value for 'n'."},
      {"numeric text too big", BindingValue("4294967297"), Color::kNone,
       "4294967297 is not a valid Color enumeration value for 'n'."},
      {"enum of another type", Enum(1, &BindingStaticTypeOf<Shade>()), Color::kRed, ""},
      {"enum unknown value", Enum(4, &BindingStaticTypeOf<Color>()), Color::kNone,
       "4 is not a valid Color enumeration value for 'n'."},
      {"float", BindingValue(1.0), Color::kNone,
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type float."},
      {"bool", BindingValue(true), Color::kNone,
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type bool."},
      {"missing", BindingValue(), Color::kNone, "A value for 'n' is required."},
  });
}

TEST_F(AssignTest, BlobAndObjectMembers) {
  Check<std::vector<std::uint8_t>>({
      {"blob", Blob("ab"), {'a', 'b'}, ""},
      {"text",
       BindingValue("ab"),
       {},
       "Couldn't assign value to 'n' of type blob because the input not a blob."},
  });
  BindingValue object("old");
  EXPECT_EQ(Assign(object, BindingValue(std::int64_t{4})), "");
  EXPECT_EQ(object.getSigned(), 4);
  EXPECT_EQ(Assign(object, BindingValue()), "");
  EXPECT_TRUE(object.isEmpty());
}

TEST_F(AssignTest, VectorsAndMapsAreEmptiedFirstAndReportTheirOwnName) {
  std::vector<std::int32_t> numbers = {9, 9};
  EXPECT_EQ(Assign(numbers, BindingValue("x")),
            "Couldn't assign value to 'n' of type vector because the input not a collection.");
  EXPECT_TRUE(numbers.empty());

  BindingValue input;
  input.elementForWrite(0).setSigned(1);
  input.elementForWrite(2).setString("oops");
  EXPECT_EQ(Assign(numbers, input), "Value oops for 'n' of type int32 is in an incorrect format");
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 0, 0}));

  input.elementForWrite(2).setString("3");
  EXPECT_EQ(Assign(numbers, input), "");
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 0, 3}));

  std::map<std::string, std::int32_t> counts = {{"stale", 1}};
  EXPECT_EQ(Assign(counts, input),
            "Couldn't assign value to 'n' of type map because the input not a structure.");
  EXPECT_TRUE(counts.empty());
  BindingValue fields;
  fields.fieldForWrite("b").setSigned(2);
  fields.fieldForWrite("a").setString("1");
  EXPECT_EQ(Assign(counts, fields), "");
  EXPECT_EQ(counts, (std::map<std::string, std::int32_t>{{"a", 1}, {"b", 2}}));
}

TEST_F(AssignTest, StructFailuresNameTheStructAndTheField) {
  struct Row {
    const char* label;
    BindingValue input;
    const char* message;
  };
  BindingValue missing_required;
  missing_required.fieldForWrite("label").setString("x");
  BindingValue null_required;
  null_required.fieldForWrite("n");
  BindingValue nested_failure;
  nested_failure.fieldForWrite("n").setString("abc");
  Row rows[] = {
      {"not a structure", Collection(),
       "Couldn't assign value to 'arg' of type Inner because the input not a structure."},
      {"required field absent", missing_required,
       "Couldn't assign value to 'arg' of type Inner because the input structure doesn't have "
       "required field 'n'."},
      {"required field null", null_required,
       "Couldn't assign value to 'arg' of type Inner because the input structure doesn't have "
       "required field 'n'."},
      {"field failure unchanged", nested_failure,
       "Value abc for 'n' of type int32 is in an incorrect format"},
      // The missing-value test belongs to whoever owns the member; a whole record given
      // nothing is simply not a structure.
      {"empty", BindingValue(),
       "Couldn't assign value to 'arg' of type Inner because the input not a structure."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Inner inner;
    EXPECT_EQ(errorText(fromValue(row.input, inner, registry_, "arg")), row.message);
    EXPECT_EQ(
        errorText(fromValue(row.input, &inner, BindingStaticTypeOf<Inner>(), registry_, "arg")),
        row.message);
  }
  Unregistered unregistered;
  EXPECT_EQ(errorText(fromValue(Structure(), unregistered, registry_, "arg")),
            "Couldn't assign value to 'arg' because the input is an unregistered structure or not "
            "a structure at all.");
  EXPECT_EQ(errorText(toValue(unregistered, registry_)),
            "Couldn't convert native value because it's an unregistered structure.");
}

TEST_F(AssignTest, StructKeepsFieldsAssignedBeforeAFailureAndSkipsAbsentOnes) {
  BindingValue input;
  input.fieldForWrite("ratio").setFloat(0.5);
  input.fieldForWrite("enabled").setString("maybe");
  input.fieldForWrite("unknown").setSigned(1);
  Outer outer;
  outer.inner.label = "untouched";
  BindingConversionResult result = fromValue(input, outer, registry_, "body");
  EXPECT_EQ(errorText(result),
            "Value maybe for 'enabled' of type bool is in an incorrect format. Options are "
            "\"true\", \"false\", \"1\", \"0\".");
  EXPECT_EQ(outer.ratio, 0.5);
  EXPECT_EQ(outer.inner.label, "untouched");
}

TEST_F(AssignTest, VectorElementsOfStructsAndEnumsUseTheVectorsName) {
  BindingValue input;
  input.fieldForWrite("colors").elementForWrite(0).setString("Red");
  input.fieldForWrite("colors").elementForWrite(1).setString("Blue");
  Outer outer;
  EXPECT_EQ(errorText(fromValue(input, outer, registry_)),
            "Blue is not a valid Color enumeration value for 'colors'.");

  BindingValue items;
  items.fieldForWrite("items").elementForWrite(1).fieldForWrite("label").setString("x");
  EXPECT_EQ(errorText(fromValue(items, outer, registry_, "body")),
            "Couldn't assign value to 'items' of type Inner because the input structure doesn't "
            "have required field 'n'.");
}

TEST_F(NativeConversionTest, ProducesAStructureInKeyOrderWithNativeKinds) {
  Outer outer;
  outer.inner = {7, "seven"};
  outer.items = {{1, "a"}};
  outer.colors = {Color::kGreen};
  outer.counts = {{"z", 1}};
  outer.blob = {1, 2};
  outer.extra.setString("free");
  outer.color = Color::kRed;
  outer.ratio = 1.5;
  BindingConversionResult result = toValue(outer, registry_);
  ASSERT_EQ(result.ok, 1);
  const BindingValue& value = result.value;
  std::vector<std::string> keys;
  for (const BindingStructureEntry& entry : value.fields()) keys.emplace_back(entry.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"blob", "color", "colors", "counts", "enabled", "extra",
                                            "inner", "items", "ratio"}));
  EXPECT_EQ(value.field("inner").field("n").kind(), BindingValueKind::kSigned);
  EXPECT_EQ(value.field("inner").field("label").getString(), "seven");
  EXPECT_EQ(value.field("color").getEnum().type, &BindingStaticTypeOf<Color>());
  EXPECT_EQ(value.field("colors").element(0).getEnum().value, 2);
  EXPECT_EQ(value.field("counts").field("z").getSigned(), 1);
  EXPECT_EQ(value.field("blob").toText(), "AQI=");
  EXPECT_EQ(value.field("extra").getString(), "free");
  EXPECT_EQ(value.field("enabled").kind(), BindingValueKind::kBool);

  outer.quiet = 3;
  BindingConversionResult with_quiet = toValue(outer, registry_);
  EXPECT_EQ(with_quiet.value.field("quiet").kind(), BindingValueKind::kUnsigned);

  Outer back;
  EXPECT_EQ(errorText(fromValue(with_quiet.value, back, registry_)), "");
  EXPECT_EQ(back.inner.label, "seven");
  EXPECT_EQ(back.colors, (std::vector<Color>{Color::kGreen}));
  EXPECT_EQ(back.quiet, 3u);
  EXPECT_EQ(back.blob, (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(NativeConversionTest, OmittedDefaultsLeaveAnEmptyStructureNotAnEmptyValue) {
  BindingConversionResult result = toValue(Quiet{}, registry_);
  EXPECT_EQ(result.ok, 1);
  EXPECT_TRUE(result.value.isStructure());
  EXPECT_EQ(result.value.size(), 0u);
}

TEST_F(NativeConversionTest, RecordEntryPointsGoThroughTheStaticType) {
  Inner inner{3, "x"};
  BindingConversionResult produced = toValue(&inner, BindingStaticTypeOf<Inner>(), registry_);
  EXPECT_EQ(produced.value.field("n").getSigned(), 3);
  Inner back;
  EXPECT_EQ(errorText(fromValue(produced.value, &back, BindingStaticTypeOf<Inner>(), registry_)),
            "");
  EXPECT_EQ(back.label, "x");
}

TEST_F(NativeConversionTest, OptionalTextIsAbsentExactlyWhenTheValueIsEmpty) {
  // A type of its own, of the string kind, whose optional mark the builder set.
  const BindingTypeDescriptor* session = registry_.findType(StaticTypeIdOf<Session>());
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(session->fields.size(), 2u);
  EXPECT_EQ(session->fields[0].optional, 1);
  EXPECT_EQ(session->fields[1].optional, 0);
  EXPECT_EQ(session->fields[0].type.kind, NativeTypeKind::kString);
  EXPECT_NE(session->fields[0].staticType->id(), BindingStaticTypeOf<std::string>().id());

  // Absent goes out as null, or not at all when left out by default.
  EXPECT_EQ(toJson(toValue(Session{}, registry_).value), R"({"token":null})");
  EXPECT_EQ(toJson(toValue(Session{"t", "h"}, registry_).value), R"({"hint":"h","token":"t"})");

  std::optional<std::string> text = "old";
  EXPECT_EQ(Assign(text, BindingValue()), "");
  EXPECT_FALSE(text.has_value());
  EXPECT_EQ(Assign(text, BindingValue("")), "");
  EXPECT_EQ(text, std::optional<std::string>(""));
  EXPECT_EQ(Assign(text, Enum(2, &BindingStaticTypeOf<Color>())), "");
  EXPECT_EQ(text, std::optional<std::string>("Green"));
  EXPECT_EQ(Assign(text, BindingValue(std::int64_t{5})),
            "Couldn't assign value to 'n' because the input is not a string.");
  EXPECT_FALSE(text.has_value());

  text = "old";
  EXPECT_EQ(errorText(fromValue(BindingValue(), text, registry_)), "");
  EXPECT_FALSE(text.has_value());
  Session back{"keep", "keep"};
  BindingConversionResult parsed = parseJson(R"({"hint":"h"})");
  EXPECT_EQ(errorText(fromValue(parsed.value, back, registry_)), "");
  EXPECT_EQ(back.token, std::optional<std::string>("keep"));  // an absent field is untouched
  EXPECT_EQ(back.hint, std::optional<std::string>("h"));
}

TEST(IsDefaultValue, MatchesTheOmitRules) {
  EXPECT_TRUE(IsDefaultValue(BindingValue()));
  EXPECT_TRUE(IsDefaultValue(BindingValue(0.0)));
  EXPECT_FALSE(IsDefaultValue(BindingValue(std::nan(""))));
  EXPECT_TRUE(IsDefaultValue(BindingValue("")));
  EXPECT_TRUE(IsDefaultValue(Collection()));
  EXPECT_FALSE(IsDefaultValue(BindingValue(std::uint64_t{1})));
  EXPECT_TRUE(IsDefaultValue(Enum(0, nullptr)));
}

}  // namespace
}  // namespace binding
