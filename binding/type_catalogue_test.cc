// The catalogue records read back byte by byte, as a host written in C reads them.
#include "binding/type_catalogue.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "binding/binding_builtins.h"
#include "binding/binding_struct_builder.h"
#include "gtest/gtest.h"

namespace binding {

struct CatalogueItem {
  std::int32_t count = 0;
  std::string label;
};
ULIX_BINDING_TYPE(CatalogueItem, "CatalogueItem")

struct CatalogueEmpty {};
ULIX_BINDING_TYPE(CatalogueEmpty, "CatalogueEmpty")

enum class CatalogueColour : std::int32_t { kRed = 2, kBlue = 1 };
ULIX_BINDING_TYPE(CatalogueColour, "CatalogueColour")

namespace {

// Reads a packed record as `layout` says and joins its fields with '|': 'n' a 32-bit number,
// 'f' an 8-bit flag, 't' a text ("<null>" when absent), 'a' an address ("null" or "set") and
// 'x' the address of the next record ("null", or "+N" when it lies N bytes on). Ends with
// "=" and the count of bytes read, so that a host reading the fields finds them where they are.
std::string Fields(const void* record, std::string_view layout) {
  const auto* start = static_cast<const unsigned char*>(record);
  const unsigned char* at = start;
  std::string out;
  for (char c : layout) {
    if (at != start) out += '|';
    if (c == 'n') {
      std::uint32_t number;
      std::memcpy(&number, at, sizeof number);
      at += sizeof number;
      out += std::to_string(number);
      continue;
    }
    if (c == 'f') {
      out += std::to_string(*at++);
      continue;
    }
    const char* address;
    std::memcpy(&address, at, sizeof address);
    at += sizeof address;
    if (c == 't') {
      out += address != nullptr ? address : "<null>";
    } else if (address == nullptr) {
      out += "null";
    } else {
      out +=
          c == 'a' ? "set" : "+" + std::to_string(address - reinterpret_cast<const char*>(start));
    }
  }
  return out + "=" + std::to_string(at - start);
}

std::string Bytes(std::size_t count) { return std::to_string(count); }

constexpr std::size_t P = sizeof(void*);

class TypeCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerBuiltins(registry_);
    BindingEnumBuilder<CatalogueColour>(registry_)
        .AddValue(CatalogueColour::kRed, "Red", "Warm")
        .AddValue(CatalogueColour::kBlue, "Blue")
        .Description("Colours");
    BindingStructBuilder<CatalogueItem>(registry_)
        .AddField(&CatalogueItem::count, "count", "How many", kFieldFlagsNone,
                  BindingTypeIdentifier{NativeTypeKind::kString})
        .AddField(&CatalogueItem::label, "label")
        .Description("An item")
        .Tag("Plugins")
        .Tag("Plugin ulix-auth");
    BindingStructBuilder<CatalogueEmpty> empty(registry_);
    BindingFunctionDescriptor* function = registry_.registerFunction("PostItems", 2);
    function->addArgument("items", "All of them",
                          TypeIdentifierOf<std::vector<CatalogueItem>>(registry_), false);
    function->addArgument("colour", "", TypeIdentifierOf<CatalogueColour>(registry_), true);
    function->returnType = TypeIdentifierOf<CatalogueItem>(registry_);
    function->description = "Stores items";
    function->threadSafe = 1;
    function->tags = {"Plugins"};
    registry_.registerFunction("GetA", 0);
    holder_ = buildTypeCatalogue(registry_.functionSnapshot(), registry_.typeSnapshot(),
                                 registry_.eventSnapshot());
  }

  const CatalogueType* Type(const std::string& name) const {
    const auto* types = static_cast<const CatalogueType*>(holder_->catalogue().types);
    for (std::uint32_t i = 0; i < holder_->catalogue().typeCount; ++i) {
      if (name == types[i].name) return &types[i];
    }
    return nullptr;
  }

  BindingTypeRegistry registry_;
  std::unique_ptr<TypeCatalogueHolder> holder_;
};

TEST_F(TypeCatalogueTest, ListsEverythingInNameOrderChainedAndContiguous) {
  const TypeCatalogue& words = holder_->catalogue();
  ASSERT_EQ(words.functionCount, 2u);
  EXPECT_EQ(words.typeCount, 18u);
  EXPECT_EQ(words.eventCount, 1u);
  const auto* functions = static_cast<const CatalogueFunction*>(words.functions);
  EXPECT_STREQ(functions[0].name, "GetA");
  EXPECT_EQ(functions[0].next, &functions[1]);
  EXPECT_EQ(functions[1].next, nullptr);
  // The names, with '+' between records that lie one after the other.
  std::string chain;
  for (const auto* type = static_cast<const CatalogueType*>(words.types); type != nullptr;
       type = type->next) {
    chain += type->name + std::string(type->next == type + 1 ? "+" : type->next ? " " : "");
  }
  EXPECT_EQ(chain,
            "BindingAsyncCancelEvent+BindingAsyncFailureEvent+BindingAsyncState+"
            "BindingCallbackEvent+BindingFullApiHelp+BindingFullArgumentHelp+"
            "BindingFullEnumValueHelp+BindingFullEventHelp+BindingFullFieldHelp+"
            "BindingFullFunctionHelp+BindingFullTypeHelp+BindingFullTypeIdentifier+"
            "BindingGenericAsyncEvent+BindingGenericEvent+BindingHelpFormat+CatalogueColour+"
            "CatalogueEmpty+CatalogueItem");
}

TEST_F(TypeCatalogueTest, FunctionRecordBytes) {
  const CatalogueFunction* record = holder_->FindFunction("PostItems");
  ASSERT_NE(record, nullptr);
  // Last record, reserved, route data (filled by the runtime), name, name space, arguments,
  // their count, return kind, element kind and type, description, help, thread-safe flag, async
  // result type, tags and their count.
  EXPECT_EQ(Fields(record, "aaattannntttftan"),
            "null|null|null|PostItems||set|2|17|0|CatalogueItem|Stores items||1||set|1=" +
                Bytes(11 * P + 17));
  EXPECT_STREQ(record->tags[0], "Plugins");
  const auto* arguments = reinterpret_cast<const char*>(record->arguments);
  const std::string stride = Bytes(4 * P + 9);
  EXPECT_EQ(Fields(arguments, "xttnntf"),
            "+" + stride + "|items|All of them|15|17|CatalogueItem|0=" + stride);
  EXPECT_EQ(Fields(arguments + 4 * P + 9, "xttnntf"),
            "null|colour||16|0|CatalogueColour|1=" + stride);
}

TEST_F(TypeCatalogueTest, TypeRecordsDescribeFieldsOrEnumerators) {
  const CatalogueType* item = Type("CatalogueItem");
  ASSERT_NE(item, nullptr);
  // Next, name, name space, size, description, tags and their count, fields, enumerators and
  // the count of members.
  EXPECT_EQ(Fields(item, "xttntanaan"), "null|CatalogueItem||" + Bytes(sizeof(CatalogueItem)) +
                                            "|An item|set|2|set|null|2=" + Bytes(7 * P + 12));
  EXPECT_STREQ(item->tags[1], "Plugin ulix-auth");
  // The host type replaces the declared one: count is announced as a string.
  const auto* fields = reinterpret_cast<const char*>(item->fields);
  const std::string stride = Bytes(4 * P + 13);
  EXPECT_EQ(Fields(fields, "xttnnntf"), "+" + stride + "|count|How many|0|12|0||0=" + stride);
  EXPECT_EQ(Fields(fields + 4 * P + 13, "xttn"),
            "null|label||" + Bytes(offsetof(CatalogueItem, label)) + "=" + Bytes(3 * P + 4));

  // An enum lists enumerators in name order, and a struct without fields lists no members.
  const CatalogueType* colour = Type("CatalogueColour");
  ASSERT_NE(colour, nullptr);
  const std::string next = "+" + Bytes(7 * P + 12) + "|";
  EXPECT_EQ(Fields(colour, "xttntanaan"),
            next + "CatalogueColour||4|Colours|null|0|null|set|2=" + Bytes(7 * P + 12));
  const auto* enumerators = reinterpret_cast<const char*>(colour->enumerators);
  const std::string size = Bytes(3 * P + 4);
  EXPECT_EQ(Fields(enumerators, "xttn"), "+" + size + "|Blue||1=" + size);
  EXPECT_EQ(Fields(enumerators + 3 * P + 4, "xttn"), "null|Red|Warm|2=" + size);
  const CatalogueType* empty = Type("CatalogueEmpty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(Fields(empty, "xttntanaan"),
            next + "CatalogueEmpty||1||null|0|null|set|0=" + Bytes(7 * P + 12));
}

TEST_F(TypeCatalogueTest, EventRecordBytes) {
  // Next, name, name space, payload type, description, tags and their count.
  const auto* record = static_cast<const CatalogueEvent*>(holder_->catalogue().events);
  EXPECT_EQ(Fields(record, "xttttan"),
            "null|OnCallback||BindingCallbackEvent|Fired when a callback is invoked.|set|1=" +
                Bytes(6 * P + 4));
  EXPECT_STREQ(record->tags[0], "$builtin");
}

}  // namespace
}  // namespace binding
