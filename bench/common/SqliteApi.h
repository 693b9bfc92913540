// The SQLite C API as the direct baselines use it: one connection with the library's
// connection settings, prepared statements kept until the end, errors as exceptions.
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace opbench {

class SqliteApi {
 public:
  explicit SqliteApi(const std::string& path) {
    // Like the library's connections, this one is used by one thread and needs no mutex.
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
      throw std::runtime_error("sqlite open");
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA busy_timeout=10000");
  }
  ~SqliteApi() {
    for (sqlite3_stmt* s : all_) sqlite3_finalize(s);
    sqlite3_close(db_);
  }
  SqliteApi(const SqliteApi&) = delete;
  SqliteApi& operator=(const SqliteApi&) = delete;

  void exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
  }
  sqlite3_stmt* prep(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sql) + ": " + sqlite3_errmsg(db_));
    all_.push_back(s);
    return s;
  }
  // SQLITE_STATIC: read in place, so `v` must outlive the statement's step.
  static void text(sqlite3_stmt* s, int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  }
  static void blob(sqlite3_stmt* s, int i, const std::string& v) {
    sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  }
  // True while rows come.
  bool step(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw std::runtime_error(sqlite3_errmsg(db_));
  }
  void run(sqlite3_stmt* s) {
    step(s);
    sqlite3_reset(s);
  }
  sqlite3* handle() const { return db_; }

  // The key of an env_log row, inserted when missing, as both logs do for every environment
  // they name: `find` (kFindEnv) binds identifier and title, `insert` (kInsertEnv)
  // identifier, title and type.
  static constexpr const char* kFindEnv = "SELECT id FROM env_log WHERE eid = ? AND title = ? LIMIT 1";
  static constexpr const char* kInsertEnv = "INSERT INTO env_log (eid, title, type) VALUES (?, ?, ?)";
  int envRow(sqlite3_stmt* find, sqlite3_stmt* insert, const std::string& eid,
             const std::string& title, const std::string& type) {
    blob(find, 1, eid);
    text(find, 2, title);
    if (step(find)) {
      int id = sqlite3_column_int(find, 0);
      sqlite3_reset(find);
      return id;
    }
    sqlite3_reset(find);
    blob(insert, 1, eid);
    text(insert, 2, title);
    text(insert, 3, type);
    run(insert);
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
  }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> all_;
};

}  // namespace opbench
