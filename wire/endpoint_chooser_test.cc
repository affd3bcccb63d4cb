#include "wire/endpoint_chooser.h"

#include <gtest/gtest.h>

#include <string>

namespace wire {
namespace {

// A catalogue of endpoint records chained the way the plug-in hands them over.
struct Catalogue {
  struct Entry {
    const char* name;
    std::uint32_t method;
    const char* path_template;
    const char* custom_method = nullptr;
  };

  explicit Catalogue(std::initializer_list<Entry> entries) : records(entries.size()) {
    std::size_t i = 0;
    for (const Entry& entry : entries) {
      CatalogueEndpoint& record = records[i];
      record.function.name = entry.name;
      record.method = entry.method;
      record.pathTemplate = entry.path_template;
      record.customMethod = entry.custom_method;
      if (i > 0) records[i - 1].function.next = &record;
      ++i;
    }
    catalogue.functions = records.data();
    catalogue.functionCount = static_cast<std::uint32_t>(records.size());
  }

  std::vector<CatalogueEndpoint> records;
  TypeCatalogue catalogue{};
};

TEST(EndpointChooser, ChoosesByMethodThenTheTemplateThatFixesTheMostBytes) {
  const Catalogue endpoints{
      {"GetItemById", kHostMethodGet, "/items/{id}"},
      {"GetNewItem", kHostMethodGet, "/items/new/"},
      {"GetItemJson", kHostMethodGet, "/items/{id}.json"},
      {"PostItem", kHostMethodPost, "/items"},
      {"AnyRest", kHostMethodAny, "/raw/{+rest}"},
      {"Brew", kHostMethodCustom, "/pot", "BREW"},
      {"NoTemplate", kHostMethodGet, nullptr},
      // Ties: as many fixed bytes, or the same literal template twice.
      {"TieFirst", kHostMethodGet, "/t/a/{y}"},
      {"TieSecond", kHostMethodGet, "/t/{x}/b"},
      {"SameFirst", kHostMethodGet, "/same"},
      {"SameSecond", kHostMethodGet, "/same"},
  };
  const EndpointChooser chooser(endpoints.catalogue);
  struct Row {
    std::uint32_t method;
    const char* path;
    const char* custom;
    const char* chosen;  // nullptr: none
  };
  const Row rows[] = {
      {kHostMethodGet, "/items/7", "", "GetItemById"},
      {kHostMethodGet, "/items/new", "", "GetNewItem"},  // trailing "/" dropped, literal wins
      {kHostMethodGet, "/items/7.json?x=1", "", "GetItemJson"},
      {kHostMethodGet, "/items/7/x", "", nullptr},
      {kHostMethodPost, "/items", "", "PostItem"},
      {kHostMethodGet, "/items", "", nullptr},
      {kHostMethodDelete, "/raw/a/b", "", "AnyRest"},
      {kHostMethodCustom, "/pot", "BREW", "Brew"},
      {kHostMethodCustom, "/pot", "STIR", nullptr},
      {kHostMethodGet, "/t/a/b", "", "TieFirst"},  // the first registered among equals
      {kHostMethodGet, "/same", "", "SameFirst"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.path) + " " + std::to_string(row.method));
    const CatalogueEndpoint* chosen = chooser.Choose(row.method, row.path, row.custom);
    if (row.chosen == nullptr) {
      EXPECT_EQ(chosen, nullptr);
    } else {
      ASSERT_NE(chosen, nullptr);
      EXPECT_STREQ(chosen->function.name, row.chosen);
    }
  }
  EXPECT_TRUE(chooser.KnowsPath("/items"));
  EXPECT_FALSE(chooser.KnowsPath("/nothing"));
  EXPECT_EQ(chooser.Find("Brew"), &endpoints.records[5]);
  EXPECT_EQ(chooser.Find("Missing"), nullptr);
}

}  // namespace
}  // namespace wire
