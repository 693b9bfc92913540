#include "SqliteConnection.h"

#include <algorithm>

#include "SqliteError.h"
#include "SqliteStatement.h"

SqliteConnection::SqliteConnection(const std::string& target, bool memory) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (memory) flags |= SQLITE_OPEN_URI | SQLITE_OPEN_SHAREDCACHE;
  int rc = sqlite3_open_v2(target.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw AException("cannot open SQLite database '" + target + "': " + text, rc);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 10000);
  try {
    if (!memory) {
      // WAL lets readers of other connections go on while one writes; NORMAL sync is
      // durable against a crash of the process, which is what a log must survive.
      ExecuteSql("PRAGMA journal_mode=WAL");
      ExecuteSql("PRAGMA synchronous=NORMAL");
    }
  } catch (...) {
    sqlite3_close_v2(db_);
    throw;
  }
}

SqliteConnection::~SqliteConnection() { sqlite3_close_v2(db_); }

std::unique_ptr<ASDriverStatement> SqliteConnection::Prepare(const std::string& sql) {
  return std::unique_ptr<ASDriverStatement>(new SqliteStatement(db_, sql));
}

void SqliteConnection::ExecuteSql(const std::string& sql) {
  char* err = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string text = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw AException(text, sqlite3_extended_errcode(db_), false);
  }
}

// IMMEDIATE: a transaction that reads first and writes later would otherwise fail with
// SQLITE_BUSY (without waiting) when another connection wrote in between.
void SqliteConnection::Begin() { ExecuteSql("BEGIN IMMEDIATE"); }
void SqliteConnection::Commit() { ExecuteSql("COMMIT"); }
void SqliteConnection::Rollback() { ExecuteSql("ROLLBACK"); }
void SqliteConnection::Savepoint(const std::string& name) { ExecuteSql("SAVEPOINT " + name); }
void SqliteConnection::ReleaseSavepoint(const std::string& name) {
  ExecuteSql("RELEASE SAVEPOINT " + name);
}
void SqliteConnection::RollbackToSavepoint(const std::string& name) {
  ExecuteSql("ROLLBACK TO SAVEPOINT " + name);
}

void SqliteConnection::Reconnect() {
  // An embedded connection is never lost; what a caller expects of a fresh connection is
  // that no transaction is left open.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

namespace {

const char* columnType(ASType t) {
  switch (t) {
    case AS_INT:
    case AS_INT64:
    case AS_TIME:
      return "INTEGER";
    case AS_VSTR:
      return "TEXT";
    case AS_DOUBLE:
      return "REAL";
    default:
      return "BLOB";
  }
}

}  // namespace

std::vector<std::string> SqliteConnection::TableDdl(const ASDomain& d) const {
  std::vector<std::string> out;
  std::string sql = "CREATE TABLE IF NOT EXISTS " + d.TableName() + " (";
  for (size_t i = 0; i < d.Size(); ++i) {
    const ASAttribute& a = d.Attribute(i);
    if (i) sql += ", ";
    sql += a.Name();
    // AUTOINCREMENT: a key is never handed out again, even after the newest row was deleted
    // (rows of other tables may still refer to it).
    if (a.Flags() & AS_COL_AUTOINC)
      sql += " INTEGER PRIMARY KEY AUTOINCREMENT";
    else
      sql += std::string(" ") + columnType(a.Type());
    const auto& pk = d.PrimaryKey();
    if ((a.Flags() & AS_COL_NOT_NULL) || std::find(pk.begin(), pk.end(), i) != pk.end())
      sql += " NOT NULL";
  }
  if (!d.PrimaryKey().empty() && d.KeyColumns() == d.PrimaryKey()) {
    sql += ", PRIMARY KEY (";
    for (size_t k = 0; k < d.PrimaryKey().size(); ++k)
      sql += (k ? ", " : "") + d.Attribute(d.PrimaryKey()[k]).Name();
    sql += ")";
  }
  sql += ")";
  out.push_back(sql);
  for (const ASIndexDef& ix : d.Indexes()) {
    std::string s = std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX IF NOT EXISTS " +
                    ix.name + " ON " + d.TableName() + " (";
    for (size_t k = 0; k < ix.columns.size(); ++k) {
      if (k) s += ", ";
      s += d.Attribute(ix.columns[k]).Name();
    }
    out.push_back(s + ")");
  }
  return out;
}

std::vector<std::string> SqliteConnection::RowKey(const ASDomain& d) const {
  for (size_t i = 0; i < d.Size(); ++i)
    if (d.Attribute(i).Flags() & AS_COL_AUTOINC) return {d.Attribute(i).Name()};
  // Every other table has one, declared primary key or not; it grows with insertion like an
  // auto-increment key, so a paging cursor can cap it.
  return {"rowid"};
}

std::string SqliteConnection::InsertDefaultsSql(const std::string& table) const {
  return "INSERT INTO " + table + " DEFAULT VALUES";
}
