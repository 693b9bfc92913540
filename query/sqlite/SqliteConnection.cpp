#include "SqliteConnection.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <cctype>

#include "ASLayout.h"
#include "SqliteError.h"
#include "SqliteStatement.h"

namespace {

// How long a statement waits for another connection's write lock before it fails busy.
const std::chrono::milliseconds kBusyTimeout(10000);

// SQLite's own busy timeout sleeps in growing steps, up to 100 ms a step once a wait has
// lasted a quarter of a second: a writer behind a long transaction slept on for up to that
// long after the lock came free, and one that woke to find the next transaction of a
// removal in batches already under way went back to sleep for another step. SQLite keeps
// no queue of waiters, so the only way to get the lock soon after it comes free is to look
// often: every tenth of a millisecond at first, for the waits behind other writers' short
// transactions, then every millisecond.
int busyWait(void* started, int count) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point& since = *static_cast<Clock::time_point*>(started);
  const Clock::time_point now = Clock::now();
  if (count == 0) since = now;
  if (now - since >= kBusyTimeout) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(count < 10 ? 100 : 1000));
  return 1;
}

}  // namespace

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
  sqlite3_busy_handler(db_, busyWait, &busySince_);
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

SqliteConnection::~SqliteConnection() {
  for (sqlite3_stmt* s : control_) sqlite3_finalize(s);
  sqlite3_close_v2(db_);
}

// Transaction control runs on every call: prepared once instead of parsed each time.
void SqliteConnection::Control(Verb verb, const char* sql) {
  sqlite3_stmt*& s = control_[verb];
  if (!s) {
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) sqliteThrow(db_, rc);
  }
  int rc = sqlite3_step(s);
  if (rc != SQLITE_DONE) {
    std::string text = sqlite3_errmsg(db_);
    int code = sqlite3_extended_errcode(db_);
    sqlite3_reset(s);
    sqliteThrow(text, code);
  }
  sqlite3_reset(s);
}

std::unique_ptr<ASDriverStatement> SqliteConnection::Prepare(const std::string& sql) {
  return std::unique_ptr<ASDriverStatement>(new SqliteStatement(db_, sql));
}

void SqliteConnection::ExecuteSql(const std::string& sql) {
  char* err = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string text = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    sqliteThrow(text, sqlite3_extended_errcode(db_));
  }
}

// IMMEDIATE: a transaction that reads first and writes later would otherwise fail with
// SQLITE_BUSY (without waiting) when another connection wrote in between. A reader takes
// no lock at all: on the WAL it reads the snapshot of its first statement.
void SqliteConnection::Begin(ASTransactionMode mode) {
  if (mode == AS_TRAN_READ)
    Control(kBeginRead, "BEGIN");
  else
    Control(kBegin, "BEGIN IMMEDIATE");
}
void SqliteConnection::Commit() { Control(kCommit, "COMMIT"); }
void SqliteConnection::Rollback() { Control(kRollback, "ROLLBACK"); }
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

// The page cache while the layout changes, in KiB. A change rebuilds tables and indexes and
// re-points links all over them inside one transaction; with SQLite's default of 2 MB every
// such step on a log of some hundred thousand operations read its pages back from the file
// and spilled them to the journal again, so that the change slowed more than in proportion
// as the log outgrew the cache. The cache takes memory only as pages fill it.
const long long kLayoutCacheKiB = 512 * 1024;

}  // namespace

bool SqliteConnection::LockName(const std::string&, int) {
  std::unique_ptr<ASDriverStatement> st = Prepare("PRAGMA cache_size");
  st->Execute({});
  ASBindValue v;
  if (st->Next()) st->Get(0, v);
  st.reset();
  cacheSize_ = v.i;
  ExecuteSql("PRAGMA cache_size = -" + std::to_string(kLayoutCacheKiB));
  return true;
}

void SqliteConnection::UnlockName(const std::string&) {
  ExecuteSql("PRAGMA cache_size = " + std::to_string(cacheSize_));
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

namespace {

std::string createSql(const ASDomain& d, const std::string& table) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + table + " (";
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
  return sql + ")";
}

std::string indexSql(const std::string& table, const ASIndexLayout& ix) {
  return std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX IF NOT EXISTS " +
         ix.name + " ON " + table + " (" + ASJoinNames(ix.columns) + ")";
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The text of a catalogue column of the current row.
std::string textAt(const ASDriverStatement& st, size_t column) {
  ASBindValue v;
  st.Get(column, v);
  return v.kind == ASBindValue::Integer ? std::to_string(v.i) : v.bytes;
}

}  // namespace

std::vector<std::string> SqliteConnection::TableDdl(const ASDomain& d) const {
  std::vector<std::string> out{createSql(d, d.TableName())};
  for (const ASIndexLayout& ix : IntendedLayout(d).indexes) out.push_back(indexSql(d.TableName(), ix));
  return out;
}

ASTableLayout SqliteConnection::IntendedLayout(const ASDomain& d) const {
  ASTableLayout t;
  t.exists = true;
  for (size_t i = 0; i < d.Size(); ++i) {
    const ASAttribute& a = d.Attribute(i);
    t.columns.push_back({a.Name(), (a.Flags() & AS_COL_AUTOINC) ? "integer" : lower(columnType(a.Type()))});
  }
  for (size_t c : d.KeyColumns()) t.primaryKey.push_back(d.Attribute(c).Name());
  for (const ASIndexDef& ix : d.Indexes()) {
    ASIndexLayout l;
    l.name = ix.name;
    l.unique = ix.unique;
    for (size_t c : ix.columns) l.columns.push_back(d.Attribute(c).Name());
    t.indexes.push_back(l);
  }
  return t;
}

ASTableLayout SqliteConnection::DescribeTable(const std::string& table) {
  ASTableLayout t;
  std::vector<std::pair<long long, std::string>> key;
  {
    std::unique_ptr<ASDriverStatement> st = Prepare("PRAGMA table_info(" + table + ")");
    st->Execute({});
    // cid, name, type, notnull, dflt_value, pk (its place in the primary key, from 1)
    while (st->Next()) {
      t.exists = true;
      t.columns.push_back({textAt(*st, 1), lower(textAt(*st, 2))});
      ASBindValue pk;
      st->Get(5, pk);
      if (pk.i > 0) key.emplace_back(pk.i, textAt(*st, 1));
    }
  }
  std::sort(key.begin(), key.end());
  for (const auto& k : key) t.primaryKey.push_back(k.second);
  if (!t.exists) return t;
  std::vector<ASIndexLayout> indexes;
  {
    std::unique_ptr<ASDriverStatement> st = Prepare("PRAGMA index_list(" + table + ")");
    st->Execute({});
    // seq, name, unique, origin ("c": made by CREATE INDEX; "pk", "u": by the table), partial
    while (st->Next()) {
      if (textAt(*st, 3) != "c") continue;
      ASIndexLayout ix;
      ix.name = textAt(*st, 1);
      ix.unique = textAt(*st, 2) == "1";
      indexes.push_back(ix);
    }
  }
  for (ASIndexLayout& ix : indexes) {
    std::unique_ptr<ASDriverStatement> st = Prepare("PRAGMA index_info(" + ix.name + ")");
    st->Execute({});
    std::vector<std::pair<long long, std::string>> cols;  // seqno, cid, name
    while (st->Next()) {
      ASBindValue seq;
      st->Get(0, seq);
      cols.emplace_back(seq.i, textAt(*st, 2));
    }
    std::sort(cols.begin(), cols.end());
    for (const auto& c : cols) ix.columns.push_back(c.second);
  }
  std::sort(indexes.begin(), indexes.end(),
            [](const ASIndexLayout& a, const ASIndexLayout& b) { return a.name < b.name; });
  t.indexes = indexes;
  return t;
}

// SQLite alters little in place: a new column is added, anything else about columns or the
// key makes the table anew under its name and copies the rows over (a duplicate of the new
// key is dropped: the first row of each key stays). It all runs in the caller's
// transaction, which SQLite takes back whole if any step fails.
std::vector<std::string> SqliteConnection::ReshapeSql(const ASDomain& d, const ASTableLayout& have,
                                                      const ASTableLayout& want) const {
  const std::string table = d.TableName();
  const ASLayoutDiff diff = ASCompareLayouts(table, have, want);
  std::vector<std::string> out;
  for (const std::string& ix : diff.dropIndexes) out.push_back("DROP INDEX IF EXISTS " + ix);
  if (diff.keyChanged || !diff.changeColumns.empty()) {
    const std::string old = table + "_reshaped";
    std::vector<std::string> common;
    for (const ASColumnLayout& c : want.columns)
      if (have.Column(c.name)) common.push_back(c.name);
    out.push_back("DROP TABLE IF EXISTS " + old);
    out.push_back("ALTER TABLE " + table + " RENAME TO " + old);
    out.push_back(createSql(d, table));
    out.push_back("INSERT OR IGNORE INTO " + table + " (" + ASJoinNames(common) + ") SELECT " +
                  ASJoinNames(common) + " FROM " + old + " ORDER BY rowid");
    out.push_back("DROP TABLE " + old);
    for (const ASIndexLayout& ix : want.indexes) out.push_back(indexSql(table, ix));
    return out;
  }
  for (const ASColumnLayout* c : diff.addColumns)
    out.push_back("ALTER TABLE " + table + " ADD COLUMN " + c->name + " " + c->type);
  for (const ASIndexLayout* ix : diff.addIndexes) out.push_back(indexSql(table, *ix));
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

namespace {

// The word after `key` in `text` ("" when `key` is not there).
std::string wordAfter(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  size_t end = text.find(' ', at);
  return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

}  // namespace

// A declared primary key is the table's first automatic index; an auto-increment key, or a
// declared key of one INTEGER column, is the rowid itself, which no hint can name: keeping
// every index out leaves the lookups by it.
std::string SqliteConnection::IndexHint(const ASDomain& table, const std::string& index) const {
  if (index != ASPrimaryKey) return " INDEXED BY " + index;
  const auto& pk = table.PrimaryKey();
  const bool rowid = pk.size() == 1 && (table.Attribute(pk[0]).Type() == AS_INT ||
                                        table.Attribute(pk[0]).Type() == AS_INT64 ||
                                        table.Attribute(pk[0]).Type() == AS_TIME);
  if (!pk.empty() && !rowid && table.KeyColumns() == pk)
    return " INDEXED BY sqlite_autoindex_" + table.TableName() + "_1";
  return table.KeyColumns().empty() ? "" : " NOT INDEXED";
}

// Lines of EXPLAIN QUERY PLAN read "SCAN t1", "SCAN t1 USING INDEX i", "SEARCH t1 USING
// [COVERING] INDEX i (...)", "SEARCH t1 USING INTEGER PRIMARY KEY (rowid=?)" and "USE TEMP
// B-TREE FOR ..." (older versions put "TABLE" before the table's name).
std::vector<ASPlanStep> SqliteConnection::Explain(const std::string& sql,
                                                  const std::vector<ASBindValue>& params) {
  std::unique_ptr<ASDriverStatement> st = Prepare("EXPLAIN QUERY PLAN " + sql);
  st->Execute(params);
  std::vector<ASPlanStep> steps;
  ASBindValue detail;
  while (st->Next()) {
    st->Get(st->Columns() - 1, detail);
    ASPlanStep step;
    step.detail = detail.bytes;
    const std::string& d = step.detail;
    const bool scan = d.compare(0, 5, "SCAN ") == 0;
    if (scan || d.compare(0, 7, "SEARCH ") == 0) {
      std::string rest = d.substr(scan ? 5 : 7);
      if (rest.compare(0, 6, "TABLE ") == 0) rest = rest.substr(6);
      step.table = rest.substr(0, rest.find(' '));
      step.fullScan = scan;
      step.index = wordAfter(rest, "INDEX ");
      if (rest.find("PRIMARY KEY") != std::string::npos ||
          step.index.compare(0, 17, "sqlite_autoindex_") == 0)
        step.index = ASPrimaryKey;
    } else if (d.find("TEMP B-TREE") != std::string::npos) {
      step.sorts = true;
    }
    steps.push_back(std::move(step));
  }
  st->Reset();
  return steps;
}

std::string SqliteConnection::TableExistsSql() const {
  return "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?";
}

// AUTOINCREMENT keeps the largest key handed out in sqlite_sequence, which exists as soon as
// one such table does.
std::string SqliteConnection::AutoIncrementUsedSql() const {
  return "SELECT seq FROM sqlite_sequence WHERE name = ?";
}

std::vector<std::string> SqliteConnection::ReserveAutoIncrementSql(const ASDomain& table,
                                                                   long long used) const {
  std::string name = "'";
  for (char c : table.TableName()) name += c == '\'' ? std::string("''") : std::string(1, c);
  name += "'";
  const std::string n = std::to_string(used);
  return {"UPDATE sqlite_sequence SET seq = " + n + " WHERE name = " + name + " AND seq < " + n,
          "INSERT INTO sqlite_sequence (name, seq) SELECT " + name + ", " + n +
              " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = " + name + ")"};
}

size_t SqliteConnection::MaxParameters() const {
  return static_cast<size_t>(sqlite3_limit(db_, SQLITE_LIMIT_VARIABLE_NUMBER, -1));
}
