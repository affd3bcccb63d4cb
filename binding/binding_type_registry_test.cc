#include "binding/binding_type_registry.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "binding/binding_struct_builder.h"
#include "gtest/gtest.h"

namespace registry_test {

enum class AsyncState : std::int32_t {
  kNone,
  kRunning,
  kCancelling,
  kCancelled,
  kSucceeded,
  kFailed
};
ULIX_BINDING_TYPE_WITH_ID(AsyncState, "BindingAsyncState", 0x4B896D21)

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
};
ULIX_BINDING_TYPE(Point, "Point")

struct Shape {
  std::vector<Point> points;
  std::map<std::string, AsyncState> states;
  std::vector<std::vector<std::int32_t>> grid;
};
ULIX_BINDING_TYPE(Shape, "Shape")

}  // namespace registry_test

namespace binding {
namespace {

using registry_test::AsyncState;
using registry_test::Point;
using registry_test::Shape;

void RegisterAsyncState(BindingTypeRegistry& registry) {
  BindingEnumBuilder<AsyncState>(registry)
      .AddValue(AsyncState::kNone, "None", "Invalid state")
      .AddValue(AsyncState::kRunning, "Running")
      .AddValue(AsyncState::kCancelling, "Cancelling")
      .AddValue(AsyncState::kCancelled, "Cancelled")
      .AddValue(AsyncState::kSucceeded, "Succeeded")
      .AddValue(AsyncState::kFailed, "Failed")
      .Description("Possible states of an asynchronous operation.")
      .Tag("$builtin")
      .Tag("async");
}

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() { RegisterAsyncState(registry_); }
  BindingTypeRegistry registry_;
};

// A type's size, enum mark and tags, then its enumerators as "name=value description".
std::string Describe(const BindingTypeDescriptor& type) {
  std::string line = std::to_string(type.size) + (type.isEnum == 1 ? " enum" : "");
  for (const std::string& tag : type.tags) line += " " + tag;
  for (const BindingEnumValue& value : type.values) {
    line += ", " + value.name + "=" + std::to_string(value.value) + " " + value.description;
  }
  return line;
}

// A field's kinds, the descriptor its type resolved to, its flags and its owner.
std::string Describe(const BindingFieldDescriptor& field) {
  return field.name + " " + std::string(typeName(field.type.kind)) + "<" +
         std::string(typeName(field.type.elementKind)) + "> " +
         (field.type.descriptor != nullptr ? field.type.descriptor->name : "-") + " flags " +
         std::to_string(field.flags) + " of " + field.owner->name;
}

TEST_F(RegistryTest, KeepsEnumeratorsInNameOrderAndASecondRegistrationAddsNothing) {
  BindingEnumBuilder<AsyncState> again(registry_);
  again.AddValue(AsyncState::kFailed, "Extra").Tag("more");
  RegisterAsyncState(registry_);
  EXPECT_TRUE(again.AlreadyRegistered());
  const BindingTypeDescriptor* descriptor = registry_.findType("BindingAsyncState");
  ASSERT_NE(descriptor, nullptr);
  EXPECT_EQ(Describe(*descriptor),
            "4 enum $builtin async, Cancelled=3 , Cancelling=2 , Failed=5 , None=0 Invalid state, "
            "Running=1 , Succeeded=4 ");
  EXPECT_EQ(registry_.typeSnapshot().size(), 1u);

  // An enumerator added again replaces the first; an empty tag is no tag.
  BindingTypeBuilder builder = registry_.beginType(4, "Other", BindingStaticTypeOf<Point>(), true);
  builder.addEnumValue("b", 1, "first");
  builder.addEnumValue("a", 2, "");
  builder.addEnumValue("b", 3, "second");
  builder.addTag("");
  EXPECT_EQ(Describe(*builder.descriptor()), "4 enum, a=2 , b=3 second");
  // The first name registered for a static type keeps its id.
  (void)registry_.beginType(8, "Point", BindingStaticTypeOf<Point>(), false);
  EXPECT_EQ(registry_.findType(BindingStaticTypeOf<Point>().id())->name, "Other");
}

TEST_F(RegistryTest, IndexesByStableDistinctStaticIdsExceptTheReservedOne) {
  EXPECT_EQ(BindingStaticTypeOf<AsyncState>().text(), "#4B896D21");
  EXPECT_EQ(registry_.findType(0x4B896D21u), registry_.findType("BindingAsyncState"));
  EXPECT_EQ(registry_.findType(0x12345678u), nullptr);
  static constexpr BindingStaticType kReserved(kReservedStaticTypeId);
  registry_.beginType(8, "ByNameOnly", kReserved, false);
  EXPECT_NE(registry_.findType("ByNameOnly"), nullptr);
  EXPECT_EQ(registry_.findType(kReservedStaticTypeId), nullptr);

  EXPECT_EQ(BindingStaticTypeOf<Point>().id(), Fnv1a("Point"));  // of the declared name
  const std::set<std::uint32_t> distinct = {BindingStaticTypeOf<std::int32_t>().id(),
                                            BindingStaticTypeOf<std::uint32_t>().id(),
                                            BindingStaticTypeOf<std::string>().id(),
                                            BindingStaticTypeOf<std::vector<Point>>().id(),
                                            BindingStaticTypeOf<std::vector<std::uint8_t>>().id(),
                                            BindingStaticTypeOf<Shape>().id()};
  EXPECT_EQ(distinct.size(), 6u);
  EXPECT_EQ(BindingStaticTypeOf<std::vector<std::int32_t>>().text().size(), 9u);
}

TEST_F(RegistryTest, FieldsRecordKindsOffsetsHashesAndResolvedElementDescriptors) {
  BindingStructBuilder<Point>(registry_).AddField(&Point::x, "x").AddField(&Point::y, "y");
  BindingStructBuilder<Shape>(registry_)
      .AddField(&Shape::points, "points", "Corners", kRequired)
      .AddField(&Shape::states, "states")
      .AddField(&Shape::grid, "grid")
      .Description("A polygon.");
  const BindingTypeDescriptor* point = registry_.findType("Point");
  const BindingTypeDescriptor* shape = registry_.findType("Shape");
  ASSERT_NE(shape, nullptr);
  EXPECT_EQ(point->fields[1].offset, 4u);
  EXPECT_EQ(point->fields[1].nameHash, 0xFC0C4EF4u);  // FNV-1a of "y"
  std::vector<std::string> fields;
  for (const BindingFieldDescriptor& field : shape->fields) fields.push_back(Describe(field));
  EXPECT_EQ(fields, (std::vector<std::string>{"points vector<struct> Point flags 2 of Shape",
                                              "states map<enum> BindingAsyncState flags 0 of Shape",
                                              "grid vector<vector> - flags 0 of Shape"}));
}

TEST(BindingTypeNames, NativeHelpAndFullNamesOfEveryKind) {
  BindingTypeDescriptor x;
  x.name = "X";
  using enum NativeTypeKind;
  struct Row {
    BindingTypeIdentifier type;
    const char* native;
    const char* help;
    const char* full_type;
    const char* element_type;
  };
  const Row rows[] = {
      {{kNone}, "", "", "", ""},
      {{kBool}, "bool", "bool", "bool", ""},
      {{kUInt16}, "uint16", "uint16", "uint16", ""},
      {{kInt32}, "int32", "int32", "int32", ""},
      {{kDouble}, "double", "double", "double", ""},
      {{kObject}, "object", "object", "object", ""},
      {{kBlob}, "blob", "bytearray", "blob", ""},
      {{kCallback}, "callback", "callback", "callback", ""},
      {{static_cast<NativeTypeKind>(20)}, "", "", "", ""},
      {{kVector, kUInt8}, "vector", "list[uint8]", "vector", "uint8"},
      {{kMap, kString}, "map", "dict[string]", "map", "string"},
      {{kStruct, kNone, &x}, "struct", "L{X}", "X", ""},
      {{kStruct}, "struct", "L{}", "struct", ""},
      {{kEnum, kNone, &x}, "enum", "L{X}", "X", ""},
      {{kEnum}, "enum", "L{}", "enum", ""},
      {{kVector, kStruct, &x}, "vector", "list[L{X}]", "vector", "X"},
      {{kVector, kEnum}, "vector", "list[L{}]", "vector", "enum"},
      {{kVector, kVector}, "vector", "list[list[]]", "vector", "vector"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.help);
    EXPECT_EQ(typeName(row.type.kind), row.native);
    EXPECT_EQ(helpTypeName(row.type), row.help);
    BindingFullTypeIdentifier full = fullTypeIdentifier(row.type);
    EXPECT_EQ(full.type, row.full_type);
    EXPECT_EQ(full.elementType, row.element_type);
  }
}

TEST_F(RegistryTest, KeepsFunctionsAndEventsByNameInByteOrderUntilReset) {
  registry_.setBuiltinsRegistered(true);
  bool already = true;
  BindingFunctionDescriptor* get = registry_.registerFunction("b", 1, &already);
  EXPECT_FALSE(already);
  get->addArgument("platformId", "Platform", {NativeTypeKind::kString}, true);
  registry_.registerFunction("B", 0);
  registry_.registerFunction("a", 0);
  EXPECT_EQ(registry_.registerFunction("b", 3, &already), get);
  EXPECT_TRUE(already);
  EXPECT_EQ(get->arguments.size(), 1u);
  EXPECT_EQ(get->arguments[0].nameHash, Fnv1a("platformId"));
  EXPECT_EQ(get->arguments[0].optional, 1);

  std::vector<std::string> names;
  for (const BindingFunctionDescriptor* function : registry_.functionSnapshot()) {
    names.push_back(function->name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_EQ(registry_.findFunction("c"), nullptr);

  BindingEventDescriptor* event = registry_.registerEvent("OnCallback", nullptr);
  EXPECT_EQ(registry_.registerEvent("OnCallback", nullptr), event);
  EXPECT_EQ(registry_.findEvent("OnCallback"), event);
  EXPECT_EQ(registry_.eventSnapshot().size(), 1u);

  registry_.reset();
  EXPECT_FALSE(registry_.builtinsRegistered());
  EXPECT_EQ(registry_.findType(0x4B896D21u), nullptr);
  EXPECT_TRUE(registry_.typeSnapshot().empty());
  EXPECT_TRUE(registry_.functionSnapshot().empty());
  EXPECT_TRUE(registry_.eventSnapshot().empty());
}

}  // namespace
}  // namespace binding
