#include "devhost/data_store.h"

#include <sqlite3.h>

namespace devhost {
namespace {

// Prepared statements are given back on every path out.
struct StatementCloser {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

Statement Prepare(sqlite3* database, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) != SQLITE_OK) return nullptr;
  return Statement(statement);
}

void BindText(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::unique_ptr<DataStore> DataStore::Open(const std::string& file, std::string& error) {
  sqlite3* database = nullptr;
  if (sqlite3_open_v2(file.c_str(), &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    error = database != nullptr ? sqlite3_errmsg(database) : "out of memory";
    sqlite3_close(database);
    return nullptr;
  }
  // The write-ahead log with full syncs makes each committed write durable across a crash of
  // the host or of the machine.
  const char* setup =
      "PRAGMA journal_mode=WAL;"
      "PRAGMA synchronous=FULL;"
      "CREATE TABLE IF NOT EXISTS documents (path TEXT PRIMARY KEY, json TEXT NOT NULL);";
  char* message = nullptr;
  if (sqlite3_exec(database, setup, nullptr, nullptr, &message) != SQLITE_OK) {
    error = message != nullptr ? message : "cannot prepare the database";
    sqlite3_free(message);
    sqlite3_close(database);
    return nullptr;
  }
  sqlite3_busy_timeout(database, 2000);
  return std::unique_ptr<DataStore>(new DataStore(database));
}

DataStore::~DataStore() { sqlite3_close(database_); }

std::optional<std::string> DataStore::Get(std::string_view key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement statement = Prepare(database_, "SELECT json FROM documents WHERE path = ?1");
  if (!statement) return std::nullopt;
  BindText(statement.get(), 1, key);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
  const int length = sqlite3_column_bytes(statement.get(), 0);
  return std::string(text != nullptr ? text : "", static_cast<std::size_t>(length));
}

bool DataStore::Put(std::string_view key, std::string_view json, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement statement =
      Prepare(database_, "INSERT OR REPLACE INTO documents (path, json) VALUES (?1, ?2)");
  if (!statement) {
    error = sqlite3_errmsg(database_);
    return false;
  }
  BindText(statement.get(), 1, key);
  BindText(statement.get(), 2, json);
  if (sqlite3_step(statement.get()) != SQLITE_DONE) {
    error = sqlite3_errmsg(database_);
    return false;
  }
  return true;
}

bool DataStore::Remove(std::string_view key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement statement = Prepare(database_, "DELETE FROM documents WHERE path = ?1");
  if (!statement) return false;
  BindText(statement.get(), 1, key);
  return sqlite3_step(statement.get()) == SQLITE_DONE && sqlite3_changes(database_) > 0;
}

}  // namespace devhost
