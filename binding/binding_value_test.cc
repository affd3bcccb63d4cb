#include "binding/binding_value.h"

#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "binding/binding_value_store.h"
#include "binding/internal/page_provider.h"
#include "binding/json_bridge.h"
#include "gtest/gtest.h"

namespace binding {
namespace {

BindingValue Blob(std::string_view bytes) {
  return BindingValue(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

BindingValue Collection(int count) {
  BindingValue value;
  for (int i = 0; i < count; ++i) value.appendElement().setSigned(i);
  return value;
}

BindingValue Structure(std::initializer_list<std::string_view> keys) {
  BindingValue value;
  for (std::string_view key : keys) value.fieldForWrite(key).setBool(true);
  return value;
}

BindingValue Enum(std::int32_t number) {
  BindingValue value;
  value.setEnum(number, nullptr);
  return value;
}

TEST(BindingValueCoercion, EachKindFollowsTheRulesOfToBoolToInt64ToTextAndSize) {
  struct Row {
    const char* label;
    BindingValue value;
    bool to_bool;
    std::int64_t to_int64;  // 99: the default
    const char* to_text;    // nullptr: left to the C library
    std::size_t size;
  };
  Row rows[] = {
      {"empty", BindingValue(), false, 99, "", 0},
      {"true", BindingValue(true), true, 1, "true", 1},
      {"false", BindingValue(false), false, 0, "false", 1},
      {"signed zero", BindingValue(std::int64_t{0}), false, 0, "0", 1},
      {"signed", BindingValue(std::int64_t{-42}), true, -42, "-42", 1},
      {"unsigned zero", BindingValue(std::uint64_t{0}), false, 0, "0", 1},
      {"unsigned max", BindingValue(std::uint64_t{18446744073709551615u}), true, -1,
       "18446744073709551615", 1},
      {"float zero", BindingValue(0.0), false, 0, "0.000000", 1},
      {"float truncates", BindingValue(-2.9), true, -2, "-2.900000", 1},
      {"float beyond the range saturates", BindingValue(1e30), true, INT64_MAX, nullptr, 1},
      {"float nan", BindingValue(std::nan("")), true, 0, nullptr, 1},
      {"string true", BindingValue("true"), true, 0, "true", 4},
      {"string 1", BindingValue("1"), true, 1, "1", 1},
      {"string TRUE", BindingValue("TRUE"), false, 0, "TRUE", 4},
      {"hex text", BindingValue("0x10"), false, 16, "0x10", 4},
      {"octal text", BindingValue("010"), false, 8, "010", 3},
      {"stops at junk", BindingValue("12abc"), false, 12, "12abc", 5},
      {"empty blob", Blob(""), false, 99, "", 0},
      {"blob of one", Blob("a"), true, 99, "YQ==", 1},
      {"blob high bytes", Blob("\xFB\xFF\xBF"), true, 99, "+/+/", 3},
      {"enum zero", Enum(0), false, 0, "0", 1},
      {"enum", Enum(-3), true, -3, "-3", 1},
      {"empty collection", Collection(0), false, 99, "", 0},
      {"collection", Collection(5), true, 99, "", 5},
      {"empty structure", Structure({}), false, 99, "", 0},
      {"structure", Structure({"a", "b"}), true, 99, "", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.value.toBool(), row.to_bool);
    EXPECT_EQ(row.value.toInt64(99), row.to_int64);
    if (row.to_text != nullptr) {
      EXPECT_EQ(row.value.toText(), row.to_text);
    }
    EXPECT_EQ(row.value.size(), row.size);
  }
}

TEST(BindingValueReading, StrictGettersAndFailedLookupsAnswerDefaults) {
  BindingValue text("7");
  EXPECT_EQ(text.getSigned(-1), -1);
  EXPECT_EQ(text.getBool(true), true);
  EXPECT_EQ(BindingValue(std::int64_t{7}).getString("none"), "none");
  EXPECT_TRUE(text.getBlob().empty());
  EXPECT_EQ(text.getEnum({4, nullptr}).value, 4);

  BindingValue structure = Structure({"a"});
  BindingValue collection = Collection(2);
  EXPECT_EQ(&structure.field("b"), &BindingValue::emptyValue());
  EXPECT_EQ(&collection.field("a"), &BindingValue::emptyValue());
  EXPECT_EQ(&collection.element(2), &BindingValue::emptyValue());
  EXPECT_EQ(&structure.element(0), &BindingValue::emptyValue());
  EXPECT_FALSE(collection.hasField("a"));
  EXPECT_TRUE(structure.hasField("a"));
  EXPECT_FALSE(structure.hasField("A"));
}

TEST(BindingValueStructure, KeepsKeysInByteOrderThroughWritesAndRemovals) {
  BindingValue value = Structure({"b", "a", "B", "ab", "", "\xC3\xA9", "a"});
  EXPECT_EQ(toJson(value),
            "{\"\":true,\"B\":true,\"a\":true,\"ab\":true,\"b\":true,\"\xC3\xA9\":true}");
  value.fieldForWrite("b").setSigned(3);  // the existing child
  EXPECT_TRUE(value.removeField("ab"));
  EXPECT_FALSE(value.removeField("ab"));
  EXPECT_EQ(toJson(value), "{\"\":true,\"B\":true,\"a\":true,\"b\":3,\"\xC3\xA9\":true}");
  EXPECT_NE(Structure({"a"}), Structure({"b"}));  // equal values under other keys
}

TEST(BindingValueWriting, WritersTurnOtherKindsIntoWhatTheyWrite) {
  BindingValue value("dropped");
  value.elementForWrite(3).setBool(true);  // filled with empty values up to the index
  value.elementForWrite(1).setSigned(5);
  EXPECT_EQ(toJson(value), "[null,5,null,true]");
  value.fieldForWrite("k").setString("text");
  EXPECT_EQ(toJson(value), R"({"k":"text"})");
  value.setString(value.field("k").getString());
  value.setString(value.getString().substr(1));
  EXPECT_EQ(value, BindingValue("ext"));
  value.setBlob(std::vector<std::uint8_t>{1, 2, 3});
  EXPECT_EQ(value, Blob("\x01\x02\x03"));
  value.setEnum(4, nullptr);
  EXPECT_EQ(value, Enum(4));
  value.clear();
  EXPECT_TRUE(value.isEmpty());
}

TEST(BindingValueCopy, CopiesDeeplyMovesRootsByASwapAndMayCopyADescendantIntoItsAncestor) {
  BindingValue source;
  source.fieldForWrite("list").elementForWrite(1).setString("x");
  source.fieldForWrite("blob") = Blob("ab");
  BindingValue copy(source);
  source.fieldForWrite("list").elementForWrite(1).setString("changed");
  EXPECT_EQ(toJson(copy), R"({"blob":"YWI=","list":[null,"x"]})");

  BindingValue value;
  value.fieldForWrite("inner").fieldForWrite("leaf").setString("kept");
  value = value.field("inner");
  EXPECT_EQ(toJson(value), R"({"leaf":"kept"})");
  value = std::move(value.fieldForWrite("leaf"));
  EXPECT_EQ(value.getString(), "kept");

  // Moving swaps roots, but copies and clears a child.
  BindingValue left("left");
  BindingValue right("right");
  left = std::move(right);
  EXPECT_EQ(toJson(left) + toJson(right), R"("right""left")");
  BindingValue parent;
  parent.fieldForWrite("child").setString("text");
  BindingValue moved(std::move(parent.fieldForWrite("child")));
  EXPECT_EQ(toJson(parent) + toJson(moved), R"({"child":null}"text")");
  parent.fieldForWrite("child") = std::move(moved);
  EXPECT_EQ(toJson(parent) + toJson(moved), R"({"child":"text"})");
}

TEST(BindingValueSortFields, AMemoFollowsChangingShapes) {
  // Structures of one shape, then a different order of the same keys, then other keys.
  const std::vector<std::vector<std::string>> shapes = {
      {"id", "name", "email"}, {"id", "name", "email"}, {"email", "id", "name"},
      {"id", "name", "email"}, {"zeta", "alpha"},       {"id", "name", "email"}};
  BindingValue tree;
  {
    BindingFieldMemo memo;
    for (const std::vector<std::string>& keys : shapes) {
      BindingValue& record = tree.appendElement();
      for (const std::string& key : keys) record.appendFieldUnsorted(key, &memo).setString(key);
      record.sortFields(BindingValue::RepeatedKeys::kKeepLast, &memo);
    }
  }
  const std::string record = R"({"email":"email","id":"id","name":"name"})";
  EXPECT_EQ(toJson(tree), "[" + record + "," + record + "," + record + "," + record +
                              R"(,{"alpha":"alpha","zeta":"zeta"},)" + record + "]");
  // The memo gave back its references: each key is held by its entries and string values.
  EXPECT_EQ(tree.store()->ReferenceCount("id"), 10u);
  EXPECT_EQ(tree.store()->ReferenceCount("zeta"), 2u);
}

TEST(BindingValueStore, SharesOneEntryPerTextAcrossKeysAndValuesOfATree) {
  BindingValue source("name");
  BindingValue tree;
  tree.fieldForWrite("name").setString("name");
  tree.fieldForWrite("other") = source;  // re-interned from another tree
  tree.fieldForWrite("list").appendElement().setString("name");
  tree.fieldForWrite("copy") = tree.field("other");
  const BindingValueStore* store = tree.store();
  EXPECT_EQ(store->ReferenceCount("name"), 5u);
  EXPECT_EQ(source.store()->ReferenceCount("name"), 1u);
  EXPECT_EQ(store->InternedCount(), 4u);  // name, other, list, copy
  tree.removeField("other");
  EXPECT_EQ(store->ReferenceCount("name"), 4u);
  EXPECT_EQ(store->ReferenceCount("other"), 0u);
  tree.fieldForWrite("list").clear();
  EXPECT_EQ(store->ReferenceCount("name"), 3u);
  tree.clear();
  EXPECT_EQ(store->InternedCount(), 0u);
}

TEST(BindingValueStore, HashesEveryByteOfTextsOfEveryLength) {
  // Texts of one length that differ in a single byte anywhere get distinct hashes, so a body
  // full of them does not pile into one bucket.
  for (const std::size_t length : {std::size_t{9}, std::size_t{100}, std::size_t{1000}}) {
    SCOPED_TRACE(length);
    std::set<std::uint32_t> hashes;
    std::size_t texts = 0;
    for (std::size_t at = 0; at < length; at += (length + 99) / 100) {
      for (char c : std::string("abcdefghij")) {
        std::string text(length, 'x');
        text[at] = c;
        hashes.insert(InternHash(text));
        ++texts;
      }
    }
    EXPECT_GE(hashes.size() + 2, texts);
  }
}

TEST(BindingValueStore, KeepsEveryTextFindableWhileTheTableGrowsOrIsSized) {
  // Far more texts than the table starts with buckets, or a table sized first (it never shrinks).
  // A few long texts are kept apart from the table; many of them move into it. Either way each
  // text is one entry, counted and released like the rest, and texts that differ only in the
  // middle are two.
  const std::string head(300, 'x');
  const struct {
    int count;
    std::string head, tail;
    std::size_t reserve;
  } runs[] = {{300, "text", "", 0},
              {20, "text ", "", 1000},
              {3, head, "", 0},
              {3, head, head, 0},
              {40, head, "", 0}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.count);
    BindingValueStore store;
    std::vector<std::string> texts;
    std::vector<internal::InternedString*> entries;
    for (int i = 0; i < run.count; ++i) {
      texts.push_back(run.head + std::to_string(i) + run.tail);
      entries.push_back(store.Intern(texts.back()));
    }
    store.ReserveTexts(run.reserve);
    store.ReserveTexts(10);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(store.Intern(texts[i]), entries[i]);
      EXPECT_EQ(std::string(entries[i]->text), texts[i]);  // terminated
      ASSERT_EQ(store.ReferenceCount(texts[i]), 2u);
    }
    for (internal::InternedString* entry : entries) store.Release(entry);
    EXPECT_EQ(store.InternedCount(), texts.size());
    EXPECT_EQ(store.ReferenceCount(texts[0]), 1u);
    for (internal::InternedString* entry : entries) store.Release(entry);
    EXPECT_EQ(store.InternedCount(), 0u);
  }
}

TEST(BindingValueStore, GivesItsPagesBackWhenATreeWithLargePartsIsDestroyed) {
  internal::PageProvider& provider = internal::PageProvider::Instance();
  const std::size_t spare_before = provider.SparePageCount();
  const std::size_t reserved_before = provider.ReservedPageCount();
  {
    BindingValue tree;
    BindingValue& list = tree.fieldForWrite("list");
    for (int i = 0; i < 2000; ++i) {
      BindingValue& item = list.appendElement();
      item.fieldForWrite("blob").setBlob(std::vector<std::uint8_t>(100, 7));
      item.fieldForWrite("text").setString(std::string(1500, 'a' + i % 26));
    }
    BindingValue copy = tree;
    EXPECT_EQ(copy.field("list").element(1999).field("text").size(), 1500u);
  }
  // Every page the trees took (their stores' own pages included) came back, and so did any page
  // reserved meanwhile; the heap parts are checked by the sanitizer build.
  EXPECT_EQ(provider.SparePageCount() - spare_before,
            provider.ReservedPageCount() - reserved_before);
}

TEST(BindingConversionResult, FailReplacesTheValueWithTheErrorStructure) {
  BindingConversionResult result;
  result.value.fieldForWrite("data").setSigned(1);
  EXPECT_EQ(errorText(result), "");
  fail(result, "went wrong");
  EXPECT_EQ(result.ok, 0);
  EXPECT_EQ(toJson(result.value), R"({"error":"went wrong"})");
  fail(result, errorText(result).substr(5));
  EXPECT_EQ(errorText(result), "wrong");
  result.value.fieldForWrite("error").setSigned(3);
  EXPECT_EQ(errorText(result), "");  // not a string
}

}  // namespace
}  // namespace binding
