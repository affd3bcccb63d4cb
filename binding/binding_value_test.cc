#include "binding/binding_value.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "binding/binding_value_store.h"
#include "binding/internal/page_provider.h"
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

std::vector<std::string> Keys(const BindingValue& value) {
  std::vector<std::string> keys;
  for (const BindingStructureEntry& entry : value.fields()) keys.emplace_back(entry.key());
  return keys;
}

TEST(BindingValueCoercion, ToBoolFollowsTheKindRules) {
  struct Row {
    const char* label;
    BindingValue value;
    bool expected;
  };
  Row rows[] = {
      {"empty", BindingValue(), false},
      {"bool", BindingValue(true), true},
      {"signed zero", BindingValue(std::int64_t{0}), false},
      {"signed", BindingValue(std::int64_t{-3}), true},
      {"unsigned", BindingValue(std::uint64_t{7}), true},
      {"float zero", BindingValue(0.0), false},
      {"float nan", BindingValue(std::nan("")), true},
      {"string true", BindingValue("true"), true},
      {"string 1", BindingValue("1"), true},
      {"string TRUE", BindingValue("TRUE"), false},
      {"string yes", BindingValue("yes"), false},
      {"empty blob", Blob(""), false},
      {"blob", Blob("x"), true},
      {"enum zero", Enum(0), false},
      {"enum", Enum(2), true},
      {"empty collection", Collection(0), false},
      {"collection", Collection(1), true},
      {"empty structure", Structure({}), false},
      {"structure", Structure({"a"}), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.value.toBool(), row.expected);
  }
}

TEST(BindingValueCoercion, ToInt64ParsesTextLikeStrtollAndFallsBackToTheDefault) {
  struct Row {
    const char* label;
    BindingValue value;
    std::int64_t expected;
  };
  Row rows[] = {
      {"bool", BindingValue(true), 1},
      {"unsigned pattern", BindingValue(std::uint64_t{0xFFFFFFFFFFFFFFFF}), -1},
      {"float truncates", BindingValue(-2.9), -2},
      {"float beyond the range saturates", BindingValue(1e30), 9223372036854775807},
      {"hex text", BindingValue("0x10"), 16},
      {"octal text", BindingValue("010"), 8},
      {"stops at junk", BindingValue("12abc"), 12},
      {"enum", Enum(5), 5},
      {"empty", BindingValue(), 99},
      {"blob", Blob("1"), 99},
      {"collection", Collection(2), 99},
      {"structure", Structure({"a"}), 99},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.value.toInt64(99), row.expected);
  }
}

TEST(BindingValueCoercion, ToTextRendersNumbersBlobsAndEnums) {
  struct Row {
    const char* label;
    BindingValue value;
    const char* expected;
  };
  Row rows[] = {
      {"false", BindingValue(false), "false"},
      {"negative", BindingValue(std::int64_t{-42}), "-42"},
      {"unsigned max", BindingValue(std::uint64_t{18446744073709551615u}), "18446744073709551615"},
      {"float", BindingValue(1.5), "1.500000"},
      {"string", BindingValue("as is"), "as is"},
      {"blob of three", Blob("abc"), "YWJj"},
      {"blob of one", Blob("a"), "YQ=="},
      {"blob of two", Blob("ab"), "YWI="},
      {"blob high bytes", Blob("\xFB\xFF"), "+/8="},
      {"enum", Enum(-3), "-3"},
      {"empty", BindingValue(), ""},
      {"collection", Collection(2), ""},
      {"structure", Structure({"a"}), ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.value.toText(), row.expected);
  }
}

TEST(BindingValueReading, StrictGettersAnswerTheDefaultForOtherKinds) {
  BindingValue text("7");
  EXPECT_EQ(text.getSigned(-1), -1);
  EXPECT_EQ(text.getBool(true), true);
  EXPECT_EQ(BindingValue(std::int64_t{7}).getString("none"), "none");
  EXPECT_TRUE(text.getBlob().empty());
  EXPECT_EQ(text.getEnum({4, nullptr}).value, 4);
}

TEST(BindingValueReading, SizeCountsBytesElementsAndFields) {
  EXPECT_EQ(BindingValue().size(), 0u);
  EXPECT_EQ(BindingValue("four").size(), 4u);
  EXPECT_EQ(Blob("abc").size(), 3u);
  EXPECT_EQ(Collection(5).size(), 5u);
  EXPECT_EQ(Structure({"a", "b"}).size(), 2u);
  EXPECT_EQ(BindingValue(false).size(), 1u);
  EXPECT_EQ(Enum(0).size(), 1u);
}

TEST(BindingValueReading, LookupsThatFindNothingAnswerTheSharedEmptyValue) {
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

TEST(BindingValueStructure, WalksKeysInByteOrderWhateverTheInsertionOrder) {
  BindingValue value = Structure({"b", "a", "B", "ab", "", "\xC3\xA9", "a"});
  EXPECT_EQ(Keys(value), (std::vector<std::string>{"", "B", "a", "ab", "b", "\xC3\xA9"}));
  EXPECT_EQ(value.size(), 6u);
}

TEST(BindingValueStructure, FieldForWriteReturnsTheExistingChild) {
  BindingValue value;
  value.fieldForWrite("z").setSigned(1);
  value.fieldForWrite("a").setSigned(2);
  value.fieldForWrite("z").setSigned(3);
  EXPECT_EQ(value.size(), 2u);
  EXPECT_EQ(value.field("z").getSigned(), 3);
  EXPECT_EQ(value.field("a").getSigned(), 2);
}

TEST(BindingValueStructure, RemoveFieldKeepsTheOtherKeysInOrder) {
  BindingValue value = Structure({"a", "b", "c"});
  EXPECT_TRUE(value.removeField("b"));
  EXPECT_FALSE(value.removeField("b"));
  EXPECT_EQ(Keys(value), (std::vector<std::string>{"a", "c"}));
}

TEST(BindingValueWriting, ElementForWriteFillsWithEmptyValuesUpToTheIndex) {
  BindingValue value("dropped");
  value.elementForWrite(3).setBool(true);
  ASSERT_TRUE(value.isCollection());
  ASSERT_EQ(value.size(), 4u);
  EXPECT_TRUE(value.element(0).isEmpty());
  EXPECT_TRUE(value.element(2).isEmpty());
  EXPECT_TRUE(value.element(3).getBool());
  value.elementForWrite(1).setSigned(5);
  EXPECT_EQ(value.size(), 4u);
}

TEST(BindingValueWriting, FieldForWriteTurnsOtherKindsIntoAStructure) {
  BindingValue value = Collection(3);
  value.fieldForWrite("k").setString("v");
  EXPECT_TRUE(value.isStructure());
  EXPECT_EQ(value.size(), 1u);
}

TEST(BindingValueWriting, SettersReplaceTheContentOfAnyKind) {
  BindingValue value = Structure({"a"});
  value.setString("text");
  EXPECT_EQ(value.getString(), "text");
  value.setString(value.getString().substr(1));
  EXPECT_EQ(value.getString(), "ext");
  std::vector<std::uint8_t> bytes = {1, 2, 3};
  value.setBlob(std::move(bytes));
  EXPECT_EQ(value.getBlob(), (std::vector<std::uint8_t>{1, 2, 3}));
  value.setEnum(4, nullptr);
  EXPECT_EQ(value.kind(), BindingValueKind::kEnum);
  value.clear();
  EXPECT_TRUE(value.isEmpty());
}

TEST(BindingValueCopy, CopiesDeeplyIntoAnIndependentTree) {
  BindingValue source;
  source.fieldForWrite("list").elementForWrite(1).setString("x");
  source.fieldForWrite("blob") = Blob("ab");
  BindingValue copy(source);
  source.fieldForWrite("list").elementForWrite(1).setString("changed");
  EXPECT_EQ(copy.field("list").element(1).getString(), "x");
  EXPECT_EQ(copy.field("blob").toText(), "YWI=");
  EXPECT_FALSE(copy == source);
}

TEST(BindingValueCopy, AssigningADescendantToItsAncestorKeepsTheDescendantsContent) {
  BindingValue value;
  value.fieldForWrite("inner").fieldForWrite("leaf").setString("kept");
  value = value.field("inner");
  EXPECT_EQ(value.field("leaf").getString(), "kept");
  value = std::move(value.fieldForWrite("leaf"));
  EXPECT_EQ(value.getString(), "kept");
}

TEST(BindingValueMove, SwapsWhenBothValuesOwnTheirTrees) {
  BindingValue left("left");
  BindingValue right("right");
  left = std::move(right);
  EXPECT_EQ(left.getString(), "right");
  EXPECT_EQ(right.getString(), "left");
}

TEST(BindingValueMove, CopiesAndClearsWhenTheSourceIsAChild) {
  BindingValue parent;
  parent.fieldForWrite("child").setString("text");
  BindingValue moved(std::move(parent.fieldForWrite("child")));
  EXPECT_EQ(moved.getString(), "text");
  EXPECT_TRUE(parent.field("child").isEmpty());
  EXPECT_TRUE(parent.hasField("child"));

  BindingValue root("root");
  parent.fieldForWrite("child") = std::move(root);
  EXPECT_EQ(parent.field("child").getString(), "root");
  EXPECT_TRUE(root.isEmpty());
}

// The keys of a structure in walk order, joined by commas.
std::string KeyOrder(const BindingValue& value) {
  std::string keys;
  for (const BindingStructureEntry& field : value.fields()) {
    if (!keys.empty()) keys += ',';
    keys += field.key();
  }
  return keys;
}

TEST(BindingValueSortFields, OrdersKeysAndSettlesRepeatsByTheRule) {
  struct Case {
    const char* name;
    std::vector<std::string> keys;  // in arrival order; values are their arrival index, "n" empty
    std::vector<bool> empty;
    BindingValue::RepeatedKeys rule;
    std::string order;
    std::vector<int> kept;  // arrival index of each remaining value, -1 for empty
  };
  const Case cases[] = {
      {"out of order",
       {"b", "ab", "a", "abc"},
       {},
       BindingValue::RepeatedKeys::kKeepLast,
       "a,ab,abc,b",
       {2, 1, 3, 0}},
      {"last wins, empty included",
       {"k", "a", "k"},
       {false, false, true},
       BindingValue::RepeatedKeys::kKeepLast,
       "a,k",
       {1, -1}},
      {"last non-empty wins",
       {"k", "a", "k", "k"},
       {false, false, false, true},
       BindingValue::RepeatedKeys::kKeepLastNonEmpty,
       "a,k",
       {1, 2}},
      {"all empty stays empty",
       {"k", "k"},
       {true, true},
       BindingValue::RepeatedKeys::kKeepLastNonEmpty,
       "k",
       {-1}},
      {"long keys sharing eight bytes",
       {"prefix_bb", "prefix_b", "prefix_ba", "prefix_"},
       {},
       BindingValue::RepeatedKeys::kKeepLast,
       "prefix_,prefix_b,prefix_ba,prefix_bb",
       {3, 1, 2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BindingValue value;
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      BindingValue& field = value.appendFieldUnsorted(c.keys[i]);
      if (c.empty.empty() || !c.empty[i]) field.setSigned(static_cast<std::int64_t>(i));
    }
    value.sortFields(c.rule);
    EXPECT_EQ(KeyOrder(value), c.order);
    ASSERT_EQ(value.size(), c.kept.size());
    for (std::size_t i = 0; i < c.kept.size(); ++i) {
      const BindingValue& field = value.fields()[i].value();
      if (c.kept[i] < 0) {
        EXPECT_TRUE(field.isEmpty()) << i;
      } else {
        EXPECT_EQ(field.getSigned(-1), c.kept[i]) << i;
      }
    }
    // Look-ups work on the result, and every dropped entry gave back its key.
    EXPECT_TRUE(value.hasField(c.keys[0]));
    EXPECT_EQ(value.store()->ReferenceCount(c.keys[0]), 1u);
  }
}

TEST(BindingValueSortFields, OrdersManyKeysWithRepeatsLikeFieldForWrite) {
  // Past the insertion-sort size, in descending order with every key twice.
  BindingValue sorted;
  BindingValue expected;
  for (int round = 0; round < 2; ++round) {
    for (int i = 99; i >= 0; --i) {
      const std::string key = "key" + std::to_string(i);
      sorted.appendFieldUnsorted(key).setSigned(round * 100 + i);
      expected.fieldForWrite(key).setSigned(round * 100 + i);
    }
  }
  sorted.sortFields(BindingValue::RepeatedKeys::kKeepLast);
  EXPECT_EQ(sorted, expected);
  EXPECT_EQ(sorted.size(), 100u);
  EXPECT_EQ(sorted.field("key42").getSigned(), 142);
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
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    SCOPED_TRACE(i);
    const BindingValue& record = tree.element(i);
    EXPECT_EQ(KeyOrder(record), i == 4 ? "alpha,zeta" : "email,id,name");
    for (const BindingStructureEntry& field : record.fields()) {
      EXPECT_EQ(field.value().getString(), field.key());
    }
  }
  // The memo gave back its references: each key is held by its entries and string values.
  EXPECT_EQ(tree.store()->ReferenceCount("id"), 10u);
  EXPECT_EQ(tree.store()->ReferenceCount("zeta"), 2u);
}

TEST(BindingValueStore, SharesOneEntryPerTextAcrossKeysAndValuesOfATree) {
  BindingValue tree;
  tree.fieldForWrite("name").setString("name");
  tree.fieldForWrite("other").setString("name");
  tree.fieldForWrite("list").appendElement().setString("name");
  tree.fieldForWrite("copy") = tree.field("other");
  const BindingValueStore* store = tree.store();
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(store->ReferenceCount("name"), 5u);
  EXPECT_EQ(store->InternedCount(), 4u);  // name, other, list, copy
  tree.removeField("other");
  EXPECT_EQ(store->ReferenceCount("name"), 4u);
  EXPECT_EQ(store->ReferenceCount("other"), 0u);
  tree.fieldForWrite("list").clear();
  EXPECT_EQ(store->ReferenceCount("name"), 3u);
  tree.clear();
  EXPECT_EQ(store->InternedCount(), 0u);
}

TEST(BindingValueStore, TellsLongTextsApartThatDifferOnlyInTheMiddle) {
  // Two tokens that differ in the middle alone are two entries, and the same token twice one.
  const std::string head(40, 'h');
  const std::string tail(40, 't');
  const std::string first = head + std::string(1000, 'a') + tail;
  const std::string second = head + std::string(1000, 'b') + tail;
  BindingValue tree;
  tree.appendElement().setString(first);
  tree.appendElement().setString(second);
  tree.appendElement().setString(first);
  EXPECT_EQ(tree.element(0).getString(), first);
  EXPECT_EQ(tree.element(1).getString(), second);
  EXPECT_EQ(tree.element(2).getString(), first);
  EXPECT_EQ(tree.store()->ReferenceCount(first), 2u);
  EXPECT_EQ(tree.store()->ReferenceCount(second), 1u);
  EXPECT_EQ(tree.store()->InternedCount(), 2u);
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

TEST(BindingValueStore, ReInternsStringsCopiedFromAnotherTree) {
  BindingValue source("shared");
  BindingValue target;
  target.fieldForWrite("a") = source;
  target.fieldForWrite("b") = source;
  EXPECT_EQ(target.store()->ReferenceCount("shared"), 2u);
  EXPECT_EQ(source.store()->ReferenceCount("shared"), 1u);
}

TEST(BindingValueStore, KeepsEveryTextFindableWhileTheTableGrowsAndReleasesThemAll) {
  // Far more texts than the table starts with buckets, interned twice and released in turn.
  BindingValueStore store;
  std::vector<internal::InternedString*> entries;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 300; ++i) entries.push_back(store.Intern("text" + std::to_string(i)));
  }
  EXPECT_EQ(store.InternedCount(), 300u);
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i], entries[300 + i]);
    EXPECT_EQ(entries[i]->view(), "text" + std::to_string(i));
    ASSERT_EQ(store.ReferenceCount("text" + std::to_string(i)), 2u);
  }
  for (std::size_t i = 0; i < 300; ++i) store.Release(entries[i]);
  EXPECT_EQ(store.InternedCount(), 300u);
  EXPECT_EQ(store.ReferenceCount("text7"), 1u);
  for (std::size_t i = 300; i < entries.size(); ++i) store.Release(entries[i]);
  EXPECT_EQ(store.InternedCount(), 0u);
  EXPECT_EQ(store.ReferenceCount("text7"), 0u);
}

TEST(BindingValueStore, FindsLongTextsBeforeAndAfterManyOfThemArrive) {
  // A few long texts are kept apart from the table; many of them move into it. Either way each
  // text is one entry, counted and released like the rest.
  BindingValueStore store;
  const auto text = [](int i) { return std::string(300, 'x') + std::to_string(i); };
  std::vector<internal::InternedString*> entries;
  for (int i = 0; i < 3; ++i) entries.push_back(store.Intern(text(i)));
  EXPECT_EQ(store.Intern(text(1)), entries[1]);
  store.Release(entries[0]);
  EXPECT_EQ(store.ReferenceCount(text(0)), 0u);
  EXPECT_EQ(store.ReferenceCount(text(1)), 2u);
  EXPECT_EQ(store.InternedCount(), 2u);
  for (int i = 3; i < 40; ++i) entries.push_back(store.Intern(text(i)));
  EXPECT_EQ(store.InternedCount(), 39u);
  for (int i = 1; i < 40; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(store.Intern(text(i)), entries[i]);
    EXPECT_EQ(store.ReferenceCount(text(i)), i == 1 ? 3u : 2u);
  }
  for (int i = 1; i < 40; ++i) {
    store.Release(entries[i]);
    store.Release(entries[i]);
  }
  store.Release(entries[1]);
  EXPECT_EQ(store.InternedCount(), 0u);
}

TEST(BindingValueStore, LongTextsLiveOutsideTheSizeClasses) {
  BindingValueStore store;
  std::string long_text(500, 'x');
  internal::InternedString* entry = store.Intern(long_text);
  EXPECT_EQ(entry->view(), long_text);
  EXPECT_EQ(entry->text[500], '\0');
  store.Release(entry);
}

TEST(BindingValueStore, TextsInternedBeforeATableIsSizedAreFoundAfter) {
  BindingValueStore store;
  std::vector<internal::InternedString*> entries;
  for (int i = 0; i < 20; ++i) entries.push_back(store.Intern("text " + std::to_string(i)));
  store.ReserveTexts(1000);
  store.ReserveTexts(10);  // never shrinks
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(store.Intern("text " + std::to_string(i)), entries[i]);
    EXPECT_EQ(store.ReferenceCount("text " + std::to_string(i)), 2u);
  }
  EXPECT_EQ(store.InternedCount(), 20u);
  for (internal::InternedString* entry : entries) {
    store.Release(entry);
    store.Release(entry);
  }
  EXPECT_EQ(store.InternedCount(), 0u);
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
  EXPECT_EQ(result.value.size(), 1u);
  EXPECT_EQ(result.value.field("error").getString(), "went wrong");
  EXPECT_EQ(errorText(result), "went wrong");
  fail(result, errorText(result).substr(5));
  EXPECT_EQ(errorText(result), "wrong");
}

TEST(BindingConversionResult, ErrorTextIsEmptyWhenTheErrorIsNotAString) {
  BindingConversionResult result;
  result.ok = 0;
  result.value.fieldForWrite("error").setSigned(3);
  EXPECT_EQ(errorText(result), "");
}

}  // namespace
}  // namespace binding
