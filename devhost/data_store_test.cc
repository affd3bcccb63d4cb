#include "devhost/data_store.h"

#include <gtest/gtest.h>

#include <string>

#include "devhost/test_catalogue.h"

namespace devhost {
namespace {

TEST(DataStore, KeepsReplacesAndRemovesDocumentsAcrossReopeningAndReportsAFolderItCannotWrite) {
  const devhost_test::TempFolder folder;
  const std::string file = folder.path + "/store.sqlite3";
  const std::string key = "/data-store/v1/install-settings/ulix-auth";
  std::string error;
  std::unique_ptr<DataStore> store = DataStore::Open(file, error);
  ASSERT_TRUE(store) << error;
  EXPECT_FALSE(store->Get(key));
  ASSERT_TRUE(store->Put(key, R"({"a":1})", error)) << error;
  EXPECT_EQ(store->Get(key), R"({"a":1})");
  ASSERT_TRUE(store->Put(key, R"({"a":2})", error)) << error;
  EXPECT_EQ(store->Get(key), R"({"a":2})");
  EXPECT_FALSE(store->Get(key + "/x"));
  EXPECT_TRUE(store->Remove(key));
  EXPECT_FALSE(store->Remove(key) || store->Get(key));
  ASSERT_TRUE(store->Put("/k", R"({"install-identifier":"00ff"})", error)) << error;
  store.reset();
  EXPECT_EQ(DataStore::Open(file, error)->Get("/k"), R"({"install-identifier":"00ff"})");
  EXPECT_FALSE(DataStore::Open(folder.path + "/missing/store.sqlite3", error));
  EXPECT_NE(error, "");
}

}  // namespace
}  // namespace devhost
