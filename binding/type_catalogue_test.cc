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

// Reads a packed record field by field: native-sized addresses, 32-bit numbers, 8-bit flags.
class ByteReader {
 public:
  explicit ByteReader(const void* record) : at_(static_cast<const unsigned char*>(record)) {}
  const void* Address() { return Take<const void*>(); }
  std::string Text() {
    const char* text = static_cast<const char*>(Address());
    return text != nullptr ? text : "<null>";
  }
  std::uint32_t Number() { return Take<std::uint32_t>(); }
  std::uint8_t Flag() { return Take<std::uint8_t>(); }
  std::size_t consumed(const void* record) const {
    return static_cast<std::size_t>(at_ - static_cast<const unsigned char*>(record));
  }

 private:
  template <typename T>
  T Take() {
    T value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  const unsigned char* at_;
};

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
  ASSERT_EQ(words.typeCount, 18u);
  ASSERT_EQ(words.eventCount, 1u);
  const auto* functions = static_cast<const CatalogueFunction*>(words.functions);
  EXPECT_STREQ(functions[0].name, "GetA");
  EXPECT_EQ(functions[0].next, &functions[1]);
  EXPECT_EQ(functions[1].next, nullptr);
  const auto* types = static_cast<const CatalogueType*>(words.types);
  std::vector<std::string> names;
  for (const CatalogueType* type = types; type != nullptr; type = type->next) {
    names.push_back(type->name);
    if (type->next != nullptr) {
      EXPECT_EQ(type->next, type + 1);
    }
  }
  ASSERT_EQ(names.size(), 18u);
  EXPECT_EQ(names[0], "BindingAsyncCancelEvent");
  EXPECT_EQ(names[15], "CatalogueColour");
  EXPECT_EQ(names[16], "CatalogueEmpty");
  EXPECT_EQ(names[17], "CatalogueItem");
  if (P == 4) {
    EXPECT_EQ(
        reinterpret_cast<const char*>(&functions[1]) - reinterpret_cast<const char*>(functions),
        61);
    EXPECT_EQ(reinterpret_cast<const char*>(&types[1]) - reinterpret_cast<const char*>(types), 40);
  }
}

TEST_F(TypeCatalogueTest, FunctionRecordBytes) {
  const CatalogueFunction* record = holder_->FindFunction("PostItems");
  ASSERT_NE(record, nullptr);
  ByteReader read(record);
  EXPECT_EQ(read.Address(), nullptr);  // last record
  EXPECT_EQ(read.Address(), nullptr);
  EXPECT_EQ(read.Address(), nullptr);  // route data, filled by the runtime
  EXPECT_EQ(read.Text(), "PostItems");
  EXPECT_EQ(read.Text(), "");
  const void* arguments = read.Address();
  EXPECT_EQ(read.Number(), 2u);
  EXPECT_EQ(read.Number(), 17u);  // struct
  EXPECT_EQ(read.Number(), 0u);
  EXPECT_EQ(read.Text(), "CatalogueItem");
  EXPECT_EQ(read.Text(), "Stores items");
  EXPECT_EQ(read.Text(), "");
  EXPECT_EQ(read.Flag(), 1);
  EXPECT_EQ(read.Text(), "");  // not asynchronous
  const auto* tags = static_cast<const char* const*>(read.Address());
  EXPECT_EQ(read.Number(), 1u);
  EXPECT_EQ(read.consumed(record), 11 * P + 17);
  ASSERT_NE(tags, nullptr);
  EXPECT_STREQ(tags[0], "Plugins");

  ByteReader first(arguments);
  EXPECT_EQ(first.Address(), static_cast<const char*>(arguments) + (4 * P + 9));
  EXPECT_EQ(first.Text(), "items");
  EXPECT_EQ(first.Text(), "All of them");
  EXPECT_EQ(first.Number(), 15u);  // vector
  EXPECT_EQ(first.Number(), 17u);  // of struct
  EXPECT_EQ(first.Text(), "CatalogueItem");
  EXPECT_EQ(first.Flag(), 0);
  ByteReader second(static_cast<const char*>(arguments) + (4 * P + 9));
  EXPECT_EQ(second.Address(), nullptr);
  EXPECT_EQ(second.Text(), "colour");
  EXPECT_EQ(second.Text(), "");
  EXPECT_EQ(second.Number(), 16u);
  EXPECT_EQ(second.Number(), 0u);
  EXPECT_EQ(second.Text(), "CatalogueColour");
  EXPECT_EQ(second.Flag(), 1);
}

TEST_F(TypeCatalogueTest, TypeRecordsDescribeFieldsOrEnumerators) {
  const CatalogueType* item = Type("CatalogueItem");
  ASSERT_NE(item, nullptr);
  ByteReader read(item);
  EXPECT_EQ(read.Address(), nullptr);
  EXPECT_EQ(read.Text(), "CatalogueItem");
  EXPECT_EQ(read.Text(), "");
  EXPECT_EQ(read.Number(), sizeof(CatalogueItem));
  EXPECT_EQ(read.Text(), "An item");
  const auto* tags = static_cast<const char* const*>(read.Address());
  EXPECT_EQ(read.Number(), 2u);
  const void* fields = read.Address();
  EXPECT_EQ(read.Address(), nullptr);
  EXPECT_EQ(read.Number(), 2u);
  EXPECT_EQ(read.consumed(item), 7 * P + 12);
  EXPECT_STREQ(tags[1], "Plugin ulix-auth");

  // The host type replaces the declared one: count is announced as a string.
  ByteReader count(fields);
  EXPECT_EQ(count.Address(), static_cast<const char*>(fields) + (4 * P + 13));
  EXPECT_EQ(count.Text(), "count");
  EXPECT_EQ(count.Text(), "How many");
  EXPECT_EQ(count.Number(), 0u);
  EXPECT_EQ(count.Number(), 12u);
  EXPECT_EQ(count.Number(), 0u);
  EXPECT_EQ(count.Text(), "");
  EXPECT_EQ(count.Flag(), 0);
  ByteReader label(static_cast<const char*>(fields) + (4 * P + 13));
  EXPECT_EQ(label.Address(), nullptr);
  EXPECT_EQ(label.Text(), "label");
  EXPECT_EQ(label.Text(), "");
  EXPECT_EQ(label.Number(), static_cast<std::uint32_t>(offsetof(CatalogueItem, label)));

  const CatalogueType* colour = Type("CatalogueColour");
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->fields, nullptr);
  ASSERT_EQ(colour->memberCount, 2u);
  ByteReader blue(colour->enumerators);
  EXPECT_EQ(blue.Address(),
            static_cast<const char*>(static_cast<const void*>(colour->enumerators)) + (3 * P + 4));
  EXPECT_EQ(blue.Text(), "Blue");
  EXPECT_EQ(blue.Text(), "");
  EXPECT_EQ(blue.Number(), 1u);
  EXPECT_STREQ(colour->enumerators[1].name, "Red");
  EXPECT_EQ(colour->enumerators[1].value, 2);
  EXPECT_STREQ(colour->enumerators[1].description, "Warm");

  const CatalogueType* empty = Type("CatalogueEmpty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->fields, nullptr);
  EXPECT_NE(empty->enumerators, nullptr);
  EXPECT_EQ(empty->memberCount, 0u);
  EXPECT_EQ(empty->tagCount, 0u);
}

TEST_F(TypeCatalogueTest, EventRecordBytes) {
  const void* record = holder_->catalogue().events;
  ByteReader read(record);
  EXPECT_EQ(read.Address(), nullptr);
  EXPECT_EQ(read.Text(), "OnCallback");
  EXPECT_EQ(read.Text(), "");
  EXPECT_EQ(read.Text(), "BindingCallbackEvent");
  EXPECT_EQ(read.Text(), "Fired when a callback is invoked.");
  const auto* tags = static_cast<const char* const*>(read.Address());
  EXPECT_EQ(read.Number(), 1u);
  EXPECT_EQ(read.consumed(record), 6 * P + 4);
  EXPECT_STREQ(tags[0], "$builtin");
}

}  // namespace
}  // namespace binding
