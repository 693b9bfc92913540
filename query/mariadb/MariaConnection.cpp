#include "MariaConnection.h"

#include <mysqld_error.h>

#include <algorithm>

#include "MariaError.h"
#include "MariaStatement.h"

namespace {

std::string quoteName(const std::string& name) {
  std::string q = "`";
  for (char c : name) {
    if (c == '`') q += '`';
    q += c;
  }
  return q + "`";
}

bool textual(ASType t) { return t == AS_VSTR || t == AS_BINSTR || t == AS_BLOB; }

unsigned fixedWidth(ASType t) {
  switch (t) {
    case AS_INT64:
    case AS_DOUBLE:
      return 8;
    case AS_GUID:
      return 16;
    default:
      return 4;
  }
}

// The longest binary string an indexed column may hold: InnoDB keys are at most 3072 bytes,
// shared by the columns of each index the column is part of (0: not indexed).
unsigned indexedWidth(const ASDomain& d, size_t column) {
  const unsigned kKeyBytes = 3072;
  unsigned width = 0;
  std::vector<ASIndexDef> keys = d.Indexes();
  keys.push_back(ASIndexDef{"PRIMARY", d.KeyColumns(), true});
  for (const ASIndexDef& ix : keys) {
    if (std::find(ix.columns.begin(), ix.columns.end(), column) == ix.columns.end()) continue;
    unsigned fixed = 0, texts = 0;
    for (size_t c : ix.columns) {
      ASType t = d.Attribute(c).Type();
      if (textual(t))
        ++texts;
      else
        fixed += fixedWidth(t);
    }
    unsigned share = (kKeyBytes - fixed) / texts - 2;  // 2 bytes of length per value
    if (width == 0 || share < width) width = share;
  }
  return width;
}

std::string columnType(const ASDomain& d, size_t i) {
  const ASType t = d.Attribute(i).Type();
  switch (t) {
    case AS_INT:
    case AS_TIME:
      return "INT";
    case AS_INT64:
      return "BIGINT";
    case AS_DOUBLE:
      return "DOUBLE";
    case AS_GUID:
      return "BINARY(16)";
    case AS_BLOB:
    case AS_VSTR:
    case AS_BINSTR:
      break;
  }
  // Binary strings keep any bytes and compare them exactly. An indexed one needs a bounded
  // length; any other may be of any length.
  unsigned width = indexedWidth(d, i);
  return width ? "VARBINARY(" + std::to_string(width) + ")" : "LONGBLOB";
}

}  // namespace

MariaConnection::MariaConnection(MariaTarget target) : target_(std::move(target)) { Connect(); }

MariaConnection::~MariaConnection() { Close(); }

void MariaConnection::Close() {
  if (db_) mysql_close(db_);
  db_ = nullptr;
}

void MariaConnection::Connect() {
  auto open = [this](const char* database) -> bool {
    db_ = mysql_init(nullptr);
    if (!db_) throw AException("out of memory opening a MariaDB connection", 0, true);
    try {
      applyClientOptions(db_, target_);
    } catch (...) {
      Close();
      throw;
    }
    // CLIENT_FOUND_ROWS: an update reports the rows it matched, as SQLite does.
    return mysql_real_connect(db_, target_.host.empty() ? nullptr : target_.host.c_str(),
                              target_.user.empty() ? nullptr : target_.user.c_str(),
                              target_.password.empty() ? nullptr : target_.password.c_str(),
                              database, target_.port,
                              target_.socket.empty() ? nullptr : target_.socket.c_str(),
                              CLIENT_FOUND_ROWS) != nullptr;
  };
  auto fail = [this]() {
    unsigned code = mysql_errno(db_);
    std::string text = mysql_error(db_);
    Close();
    // Flagged as lost: the session tries again at its next transaction.
    throw AException(text, static_cast<int>(code), true);
  };
  // An option file may name another character set; every text must still travel as bytes.
  auto keepBinary = [this, &fail]() {
    if (std::string(mysql_character_set_name(db_)) != "binary" &&
        mysql_set_character_set(db_, "binary"))
      fail();
  };
  const char* database = target_.database.empty() ? nullptr : target_.database.c_str();
  if (open(database)) return keepBinary();
  if (!database || mysql_errno(db_) != ER_BAD_DB_ERROR) fail();
  Close();
  if (!open(nullptr)) fail();
  keepBinary();
  try {
    ExecuteSql("CREATE DATABASE IF NOT EXISTS " + quoteName(target_.database));
  } catch (...) {
    Close();
    throw;
  }
  if (mysql_select_db(db_, target_.database.c_str())) fail();
}

void MariaConnection::Reconnect() {
  Close();
  lastInsertId_ = 0;
  Connect();
}

std::unique_ptr<ASDriverStatement> MariaConnection::Prepare(const std::string& sql) {
  if (!db_) throw AException("the connection to the database is closed", 0, true);
  return std::unique_ptr<ASDriverStatement>(new MariaStatement(*this, db_, sql));
}

void MariaConnection::ExecuteSql(const std::string& sql) {
  if (!db_) throw AException("the connection to the database is closed", 0, true);
  if (mysql_real_query(db_, sql.data(), sql.size())) mariaThrow(db_);
  do {
    if (MYSQL_RES* r = mysql_store_result(db_)) mysql_free_result(r);
  } while (mysql_next_result(db_) == 0);
  if (mysql_errno(db_)) mariaThrow(db_);
}

void MariaConnection::Begin() { ExecuteSql("START TRANSACTION"); }
void MariaConnection::Commit() { ExecuteSql("COMMIT"); }
void MariaConnection::Rollback() { ExecuteSql("ROLLBACK"); }
void MariaConnection::Savepoint(const std::string& name) { ExecuteSql("SAVEPOINT " + name); }
void MariaConnection::ReleaseSavepoint(const std::string& name) {
  ExecuteSql("RELEASE SAVEPOINT " + name);
}
void MariaConnection::RollbackToSavepoint(const std::string& name) {
  ExecuteSql("ROLLBACK TO SAVEPOINT " + name);
}

std::vector<std::string> MariaConnection::TableDdl(const ASDomain& d) const {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + d.TableName() + " (";
  const std::vector<size_t> key = d.KeyColumns();
  for (size_t i = 0; i < d.Size(); ++i) {
    const ASAttribute& a = d.Attribute(i);
    if (i) sql += ", ";
    sql += a.Name() + " " + columnType(d, i);
    if (a.Flags() & AS_COL_AUTOINC)
      sql += " NOT NULL AUTO_INCREMENT";
    else if ((a.Flags() & AS_COL_NOT_NULL) || std::find(key.begin(), key.end(), i) != key.end())
      sql += " NOT NULL";
  }
  // A table without a key of its own gets none: InnoDB then clusters it by a row id that no
  // statement can see.
  if (!key.empty()) {
    sql += ", PRIMARY KEY (";
    for (size_t k = 0; k < key.size(); ++k) sql += (k ? ", " : "") + d.Attribute(key[k]).Name();
    sql += ")";
  }
  // Indexes are part of the one CREATE TABLE IF NOT EXISTS, so that sessions creating the
  // schema at the same time cannot trip over each other.
  for (const ASIndexDef& ix : d.Indexes()) {
    sql += std::string(", ") + (ix.unique ? "UNIQUE KEY " : "KEY ") + ix.name + " (";
    for (size_t k = 0; k < ix.columns.size(); ++k) {
      if (k) sql += ", ";
      sql += d.Attribute(ix.columns[k]).Name();
    }
    sql += ")";
  }
  sql += ") ENGINE=InnoDB";
  return {sql};
}

std::vector<std::string> MariaConnection::RowKey(const ASDomain& d) const {
  std::vector<std::string> names;
  for (size_t c : d.KeyColumns()) names.push_back(d.Attribute(c).Name());
  return names;
}

std::string MariaConnection::InsertDefaultsSql(const std::string& table) const {
  return "INSERT INTO " + table + " () VALUES ()";
}
