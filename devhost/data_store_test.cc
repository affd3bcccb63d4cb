#include "devhost/data_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace devhost {
namespace {

class DataStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/devhost-store-XXXXXX";
    folder_ = mkdtemp(pattern);
    file_ = folder_ + "/store.sqlite3";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::unique_ptr<DataStore> Open() {
    std::string error;
    auto store = DataStore::Open(file_, error);
    EXPECT_TRUE(store) << error;
    return store;
  }

  std::string folder_;
  std::string file_;
};

TEST_F(DataStoreTest, KeepsReplacesAndRemovesDocumentsAcrossReopening) {
  auto store = Open();
  std::string error;
  const std::string key = "/data-store/v1/install-settings/ulix-auth";
  EXPECT_FALSE(store->Get(key));
  ASSERT_TRUE(store->Put(key, R"({"a":1})", error)) << error;
  EXPECT_EQ(store->Get(key), R"({"a":1})");
  ASSERT_TRUE(store->Put(key, R"({"a":2})", error)) << error;
  EXPECT_EQ(store->Get(key), R"({"a":2})");
  EXPECT_FALSE(store->Get(key + "/x"));
  EXPECT_TRUE(store->Remove(key));
  EXPECT_FALSE(store->Remove(key));
  EXPECT_FALSE(store->Get(key));
  ASSERT_TRUE(store->Put("/k", R"({"install-identifier":"00ff"})", error)) << error;
  store.reset();
  EXPECT_EQ(Open()->Get("/k"), R"({"install-identifier":"00ff"})");
}

TEST_F(DataStoreTest, ReportsAFolderItCannotWrite) {
  std::string error;
  EXPECT_FALSE(DataStore::Open(folder_ + "/missing/store.sqlite3", error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace devhost
