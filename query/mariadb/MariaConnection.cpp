#include "MariaConnection.h"

#include <mysqld_error.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "ASLayout.h"

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

// A text of any length: a LONGBLOB, which keeps any bytes and compares them exactly.
bool unbounded(const ASAttribute& a) { return textual(a.Type()) && a.MaxBytes() == 0; }

// Indexes over texts of any length hold a prefix of each: the index finds the candidates,
// the rows themselves decide equality. Enough to tell apart identifiers and titles.
const unsigned kPrefixBytes = 255;

std::string columnType(const ASAttribute& a) {
  switch (a.Type()) {
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
  return a.MaxBytes() ? "VARBINARY(" + std::to_string(a.MaxBytes()) + ")" : "LONGBLOB";
}

// A primary key's columns, whole: a key is a row's identity, never a prefix of it.
std::string keyColumns(const ASDomain& d, const ASColumnList& columns) {
  std::string sql = "(";
  for (size_t k = 0; k < columns.size(); ++k)
    sql += (k ? ", " : "") + d.Attribute(columns[k]).Name();
  return sql + ")";
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
    // Rows of up to AS_MAX_ROW_BYTES, three joined, must come back whole; the client's own
    // default may be smaller than the server's.
    unsigned long packet = 64ul << 20;
    mysql_options(db_, MYSQL_OPT_MAX_ALLOWED_PACKET, &packet);
    // CLIENT_FOUND_ROWS: an update reports the rows it matched, as SQLite does.
    if (!mysql_real_connect(db_, target_.host.empty() ? nullptr : target_.host.c_str(),
                            target_.user.empty() ? nullptr : target_.user.c_str(),
                            target_.password.empty() ? nullptr : target_.password.c_str(),
                            database, target_.port,
                            target_.socket.empty() ? nullptr : target_.socket.c_str(),
                            CLIENT_FOUND_ROWS))
      return false;
    // Not a single statement goes over a connection that ssl-mode wants encrypted and is not.
    const std::string shortfall = tlsShortfall(db_, target_);
    if (!shortfall.empty()) {
      Close();
      throw AException(shortfall + "; nothing was sent after logging in", 2026, false);
    }
    // Without autocommit the first statement of a transaction opens it on the server, so
    // beginning one costs no round trip of its own (see Begin()). Why READ COMMITTED: Begin().
    for (const char* sql :
         {"SET autocommit=0", "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED"})
      if (mysql_real_query(db_, sql, std::strlen(sql))) return false;
    return true;
  };
  auto fail = [this]() {
    unsigned code = mysql_errno(db_);
    std::string text = mysql_error(db_);
    Close();
    // A certificate that does not name the host is only "failed validation" to the
    // connector; the caller needs to know what to fix.
    if (text.find("Validation of SSL server certificate failed") != std::string::npos)
      text += ": its certificate does not name the host '" + target_.host +
              "' (ssl-mode=" + target_.sslMode + " checks that)";
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
  explicit_ = false;
  Connect();
}

bool MariaConnection::ServerInTransaction() const {
  unsigned status = 0;
  mariadb_get_infov(db_, MARIADB_CONNECTION_SERVER_STATUS, &status);
  return (status & SERVER_STATUS_IN_TRANS) != 0;
}

// Outside a transaction of ours every statement stands alone, as with autocommit: what it
// opened on the server is committed (or, after a failure, rolled back) right away. An error
// reply carries no server status, so after a failure the rollback is sent regardless: a
// refused insert would otherwise keep its lock on the duplicate row until the session's
// next statement.
void MariaConnection::StatementDone(bool ok) {
  if (explicit_ || !db_) return;
  if (!ok)
    mysql_rollback(db_);
  else if (ServerInTransaction() && mysql_commit(db_))
    mariaThrow(db_);
}

std::unique_ptr<ASDriverStatement> MariaConnection::Prepare(const std::string& sql) {
  if (!db_) throw AException("the connection to the database is closed", 0, true);
  return std::unique_ptr<ASDriverStatement>(new MariaStatement(*this, db_, sql));
}

void MariaConnection::ExecuteSql(const std::string& sql) {
  Query(sql);
  StatementDone(true);
}

void MariaConnection::Query(const std::string& sql) {
  if (!db_) throw AException("the connection to the database is closed", 0, true);
  try {
    if (mysql_real_query(db_, sql.data(), sql.size())) mariaThrow(db_);
    do {
      if (MYSQL_RES* r = mysql_store_result(db_)) mysql_free_result(r);
    } while (mysql_next_result(db_) == 0);
    if (mysql_errno(db_)) mariaThrow(db_);
  } catch (const AException& e) {
    if (!e.ConnectionLost()) StatementDone(false);
    throw;
  }
}

// The server opens the transaction with its first statement (autocommit is off). Anything
// left open by a statement outside a transaction was already ended by StatementDone(), so
// a begin needs no round trip; a commit or rollback needs one only when a statement ran.
//
// Sessions run at READ COMMITTED (set when they connect): under REPEATABLE READ a search
// that finds nothing locks the gap where the rows would be, two writers adding rows to the
// end of the same index each hold that gap, and each one's insert waits for the other's.
// A reader asks for REPEATABLE READ for its one transaction (one round trip, on reads only).
void MariaConnection::Begin(ASTransactionMode mode) {
  if (!db_) throw AException("the connection to the database is closed", 0, true);
  if (ServerInTransaction()) Query("COMMIT");
  if (mode == AS_TRAN_READ) Query("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
  explicit_ = true;
}

void MariaConnection::Commit() {
  explicit_ = false;
  if (!db_) throw AException("the connection to the database is closed", 0, true);
  if (ServerInTransaction() && mysql_commit(db_)) mariaThrow(db_);
}

void MariaConnection::Rollback() {
  explicit_ = false;
  if (!db_) throw AException("the connection to the database is closed", 0, true);
  if (ServerInTransaction() && mysql_rollback(db_)) mariaThrow(db_);
}
void MariaConnection::Savepoint(const std::string& name) { Query("SAVEPOINT " + name); }
void MariaConnection::ReleaseSavepoint(const std::string& name) {
  Query("RELEASE SAVEPOINT " + name);
}
void MariaConnection::RollbackToSavepoint(const std::string& name) {
  Query("ROLLBACK TO SAVEPOINT " + name);
}

namespace {

std::string columnDefinition(const ASDomain& d, size_t i) {
  const ASAttribute& a = d.Attribute(i);
  const ASColumnList key = d.KeyColumns();
  std::string sql = a.Name() + " " + columnType(a);
  if (a.Flags() & AS_COL_AUTOINC)
    sql += " NOT NULL AUTO_INCREMENT";
  else if ((a.Flags() & AS_COL_NOT_NULL) || std::find(key.begin(), key.end(), i) != key.end())
    sql += " NOT NULL";
  return sql;
}

std::string indexDefinition(const ASIndexLayout& ix) {
  return std::string(ix.unique ? "UNIQUE KEY " : "KEY ") + ix.name + " (" +
         ASJoinNames(ix.columns) + ")";
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "int(11)" and "int" are one type: older servers show a display width.
std::string plainType(const std::string& type) {
  std::string t = lower(type);
  for (const char* integral : {"int(", "bigint("})
    if (t.compare(0, std::strlen(integral), integral) == 0) return t.substr(0, t.find('('));
  return t;
}

// The hidden row key that tables without a key of their own had in the first layouts.
const char* const kRetiredRowKey = "jrx_row";

std::string textAt(const ASDriverStatement& st, size_t column) {
  ASBindValue v;
  st.Get(column, v);
  return v.kind == ASBindValue::Integer ? std::to_string(v.i) : v.bytes;
}

}  // namespace

std::vector<std::string> MariaConnection::TableDdl(const ASDomain& d) const {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + d.TableName() + " (";
  for (size_t i = 0; i < d.Size(); ++i) sql += (i ? ", " : "") + columnDefinition(d, i);
  // A table without a key of its own gets none: InnoDB then clusters it by a row id that no
  // statement can see. Key columns that are texts have a width.
  const ASColumnList key = d.KeyColumns();
  if (!key.empty()) sql += ", PRIMARY KEY " + keyColumns(d, key);
  // Indexes are part of the one CREATE TABLE IF NOT EXISTS, so that sessions creating the
  // schema at the same time cannot trip over each other.
  for (const ASIndexLayout& ix : IntendedLayout(d).indexes) sql += ", " + indexDefinition(ix);
  sql += ") ENGINE=InnoDB";
  return {sql};
}

ASTableLayout MariaConnection::IntendedLayout(const ASDomain& d) const {
  ASTableLayout t;
  t.exists = true;
  for (size_t i = 0; i < d.Size(); ++i)
    t.columns.push_back({d.Attribute(i).Name(), plainType(columnType(d.Attribute(i)))});
  for (size_t c : d.KeyColumns()) t.primaryKey.push_back(d.Attribute(c).Name());
  auto columnsOf = [&](const ASIndexDef& ix, bool prefixes) {
    std::vector<std::string> names;
    for (size_t c : ix.columns) {
      const ASAttribute& a = d.Attribute(c);
      names.push_back(prefixes && unbounded(a)
                          ? a.Name() + "(" + std::to_string(kPrefixBytes) + ")"
                          : a.Name());
    }
    return names;
  };
  for (const ASIndexDef& ix : d.Indexes()) {
    if (!ix.unique) {
      t.indexes.push_back({ix.name, false, columnsOf(ix, true)});
      continue;
    }
    // A prefix cannot keep whole values unique. Over texts of any length the server keeps
    // a hash of the whole values unique instead, which lookups cannot use: they get a
    // prefix index of their own beside it. The hash is checked by a locking search before
    // the insert, so two sessions inserting the same new value at the very same moment
    // deadlock instead of one waiting for the other's row: a key that writers race for
    // needs columns with a width.
    t.indexes.push_back({ix.name, true, columnsOf(ix, false)});
    bool anyUnbounded = false;
    for (size_t c : ix.columns) anyUnbounded = anyUnbounded || unbounded(d.Attribute(c));
    if (anyUnbounded) t.indexes.push_back({std::string(ix.name) + "_find", false, columnsOf(ix, true)});
  }
  std::sort(t.indexes.begin(), t.indexes.end(),
            [](const ASIndexLayout& a, const ASIndexLayout& b) { return a.name < b.name; });
  return t;
}

ASTableLayout MariaConnection::DescribeTable(const std::string& table) {
  ASTableLayout t;
  {
    std::unique_ptr<ASDriverStatement> st = Prepare(
        "SELECT COLUMN_NAME, COLUMN_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = "
        "DATABASE() AND TABLE_NAME = ? ORDER BY ORDINAL_POSITION");
    ASBindValue name;
    name.kind = ASBindValue::Text;
    name.bytes = table;
    st->Execute({name});
    while (st->Next()) {
      t.exists = true;
      t.columns.push_back({textAt(*st, 0), plainType(textAt(*st, 1))});
    }
    if (!t.exists) return t;
    st = Prepare(
        "SELECT INDEX_NAME, NON_UNIQUE, COLUMN_NAME, SUB_PART FROM information_schema.STATISTICS "
        "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ? ORDER BY INDEX_NAME, SEQ_IN_INDEX");
    st->Execute({name});
    while (st->Next()) {
      const std::string index = textAt(*st, 0);
      std::string column = textAt(*st, 2);
      ASBindValue part;
      st->Get(3, part);
      if (part.kind != ASBindValue::Null) column += "(" + textAt(*st, 3) + ")";
      if (index == "PRIMARY") {
        t.primaryKey.push_back(column);
        continue;
      }
      if (t.indexes.empty() || t.indexes.back().name != index)
        t.indexes.push_back({index, textAt(*st, 1) == "0", {}});
      t.indexes.back().columns.push_back(column);
    }
  }
  return t;
}

// One ALTER TABLE for the whole change: InnoDB makes it at once or not at all, so a crash
// leaves the table either as it was or as it should be.
std::vector<std::string> MariaConnection::ReshapeSql(const ASDomain& d, const ASTableLayout& have,
                                                     const ASTableLayout& want) const {
  const ASLayoutDiff diff = ASCompareLayouts(d.TableName(), have, want);
  std::vector<std::string> parts;
  for (const std::string& ix : diff.dropIndexes) parts.push_back("DROP INDEX " + ix);
  if (diff.keyChanged && !have.primaryKey.empty()) parts.push_back("DROP PRIMARY KEY");
  for (const std::string& c : diff.extraColumns)
    if (c == kRetiredRowKey) parts.push_back("DROP COLUMN " + c);
  for (size_t i = 0; i < d.Size(); ++i) {
    const std::string name = d.Attribute(i).Name();
    const ASColumnLayout* h = have.Column(name);
    const auto& key = want.primaryKey;
    const bool inKey = std::find(key.begin(), key.end(), name) != key.end();
    if (!h)
      parts.push_back("ADD COLUMN " + columnDefinition(d, i));
    else if (h->type != plainType(columnType(d.Attribute(i))) || (diff.keyChanged && inKey))
      parts.push_back("MODIFY COLUMN " + columnDefinition(d, i));
  }
  if (diff.keyChanged && !want.primaryKey.empty())
    parts.push_back("ADD PRIMARY KEY " + keyColumns(d, d.KeyColumns()));
  for (const ASIndexLayout* ix : diff.addIndexes) {
    // An index of the same name that stays (not the table's own naming) is left alone.
    if (have.Index(ix->name) &&
        std::find(diff.dropIndexes.begin(), diff.dropIndexes.end(), ix->name) ==
            diff.dropIndexes.end())
      continue;
    parts.push_back("ADD " + indexDefinition(*ix));
  }
  if (parts.empty()) return {};
  return {"ALTER TABLE " + d.TableName() + " " + ASJoinNames(parts)};
}

bool MariaConnection::LockName(const std::string& name, int timeoutSeconds) {
  std::unique_ptr<ASDriverStatement> st = Prepare("SELECT GET_LOCK(?, ?)");
  ASBindValue n;
  n.kind = ASBindValue::Text;
  n.bytes = name;
  try {
    st->Execute({n, ASBindValue::MakeInt(timeoutSeconds)});
  } catch (const AException& e) {
    // A cluster node may refuse named locks, which would not span its nodes anyway; its
    // schema changes are applied in one order on every node, and the steps that follow
    // look before they change.
    if (e.Code() == ER_NOT_SUPPORTED_YET) return true;
    throw;
  }
  bool got = st->Next() && textAt(*st, 0) == "1";
  st->Reset();
  return got;
}

void MariaConnection::UnlockName(const std::string& name) {
  std::unique_ptr<ASDriverStatement> st = Prepare("SELECT RELEASE_LOCK(?)");
  ASBindValue n;
  n.kind = ASBindValue::Text;
  n.bytes = name;
  st->Execute({n});
  while (st->Next()) {
  }
  st->Reset();
}

std::vector<std::string> MariaConnection::RowKey(const ASDomain& d) const {
  std::vector<std::string> names;
  for (size_t c : d.KeyColumns()) names.push_back(d.Attribute(c).Name());
  return names;
}

std::string MariaConnection::InsertDefaultsSql(const std::string& table) const {
  return "INSERT INTO " + table + " () VALUES ()";
}

// EXPLAIN gives one row per table: id, select_type, table, type, possible_keys, key,
// key_len, ref, rows, Extra. "ALL" and "index" read the whole table or index.
std::vector<ASPlanStep> MariaConnection::Explain(const std::string& sql,
                                                 const std::vector<ASBindValue>& params) {
  std::unique_ptr<ASDriverStatement> st = Prepare("EXPLAIN " + sql);
  st->Execute(params);
  std::vector<ASPlanStep> steps;
  std::vector<ASBindValue> row;
  while (st->Next()) {
    row.assign(st->Columns(), ASBindValue());
    for (size_t i = 0; i < row.size(); ++i) st->Get(i, row[i]);
    if (row.size() < 10) continue;
    ASPlanStep step;
    step.table = row[2].bytes;
    step.index = row[5].bytes;
    step.fullScan = row[3].bytes == "ALL" || row[3].bytes == "index";
    step.sorts = row[9].bytes.find("filesort") != std::string::npos ||
                 row[9].bytes.find("temporary") != std::string::npos;
    for (const ASBindValue& v : row) {
      if (!step.detail.empty()) step.detail += ' ';
      step.detail += v.kind == ASBindValue::Null      ? "NULL"
                     : v.kind == ASBindValue::Integer ? std::to_string(v.i)
                                                      : v.bytes;
    }
    steps.push_back(std::move(step));
  }
  st->Reset();
  return steps;
}

std::string MariaConnection::TableExistsSql() const {
  return "SELECT 1 FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND "
         "TABLE_NAME = ?";
}

// The storage engine counts the next value it hands out; the one before it is taken.
std::string MariaConnection::AutoIncrementUsedSql() const {
  return "SELECT AUTO_INCREMENT - 1 FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
         "DATABASE() AND TABLE_NAME = ?";
}

// InnoDB never sets the counter at or below the largest value in the column.
std::vector<std::string> MariaConnection::ReserveAutoIncrementSql(const ASDomain& table,
                                                                  long long used) const {
  return {"ALTER TABLE " + quoteName(table.TableName()) +
          " AUTO_INCREMENT = " + std::to_string(used + 1)};
}
