// The host's data store: JSON documents under resource paths, kept in an SQLite database in the
// state folder so that what the plug-in saves (its install identifier) survives restarts and
// crashes. Every write is one transaction: a crash leaves the old or the new document, never a
// mixture.
#ifndef DEVHOST_DATA_STORE_H_
#define DEVHOST_DATA_STORE_H_

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace devhost {

class DataStore {
 public:
  // Opens or creates the database at `file`; nullptr with `error` set when SQLite cannot.
  static std::unique_ptr<DataStore> Open(const std::string& file, std::string& error);
  ~DataStore();
  DataStore(const DataStore&) = delete;
  DataStore& operator=(const DataStore&) = delete;

  // Any thread may call these; one connection serves them one at a time.
  // The JSON text stored under `key`, or nullopt when nothing is.
  std::optional<std::string> Get(std::string_view key);
  // Replaces the document under `key`. False with `error` set on a database failure.
  bool Put(std::string_view key, std::string_view json, std::string& error);
  // True when something was removed.
  bool Remove(std::string_view key);

 private:
  explicit DataStore(sqlite3* database) : database_(database) {}

  std::mutex mutex_;
  sqlite3* database_;
};

}  // namespace devhost

#endif  // DEVHOST_DATA_STORE_H_
