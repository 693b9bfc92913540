// Progress reports per second through saveProgress, against the same statements issued
// directly on the database's C API with prepared statements (the floor any layer on top of
// the driver can reach). First reports create an operation with its links; later reports
// either append a new text or refresh the latest one.
//
// SQLite always; MariaDB when JRX_TEST_MARIADB_URL names a server
// (mysql://root@localhost/?socket=/path/mysqld.sock). The ratio lines at the end give
// saveProgress's rate as a fraction of the direct rate.
#include <benchmark/benchmark.h>
#include <mysql.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "JRXConversions.h"
#include "JRXEnvDirectory.h"
#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "store/ValueEncodings.h"

using namespace JRX;

namespace {

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kNode(0x70de, 0x1);
const long kT0 = 1701000000;

// ------------------------------------------------------------------------ databases

struct MariaUrl {
  std::string user, password, host, socket;
  unsigned port = 0;
};

const char* mariaServer() { return std::getenv("JRX_TEST_MARIADB_URL"); }

MariaUrl parseMaria(const std::string& url) {
  MariaUrl m;
  std::string rest = url.substr(url.find("://") + 3);
  size_t at = rest.find('@');
  std::string cred = rest.substr(0, at);
  rest = rest.substr(at + 1);
  size_t colon = cred.find(':');
  m.user = cred.substr(0, colon);
  if (colon != std::string::npos) m.password = cred.substr(colon + 1);
  size_t slash = rest.find('/');
  std::string hostPort = rest.substr(0, slash);
  colon = hostPort.find(':');
  m.host = hostPort.substr(0, colon);
  if (colon != std::string::npos) m.port = static_cast<unsigned>(std::atoi(hostPort.c_str() + colon + 1));
  size_t sock = rest.find("socket=");
  if (sock != std::string::npos) m.socket = rest.substr(sock + 7, rest.find('&', sock) - sock - 7);
  return m;
}

// A new empty database of the backend, with the log tables created through the library; the
// URL for the library and, for the direct runs, what the C API needs.
struct BenchDb {
  std::string backend;
  std::string url;
  std::string sqlitePath;
  std::string mariaName;
};

BenchDb freshDb(const std::string& backend) {
  static int counter = 0;
  ++counter;
  BenchDb db;
  db.backend = backend;
  if (backend == "sqlite") {
    db.sqlitePath = "/tmp/jrx-bench-" + std::to_string(getpid()) + "-" + std::to_string(counter) + ".sqlite";
    std::remove(db.sqlitePath.c_str());
    db.url = "sqlite:" + db.sqlitePath;
  } else {
    std::string server = mariaServer();
    size_t slash = server.find('/', server.find("://") + 3);
    size_t q = server.find('?', slash);
    std::string query = q == std::string::npos ? "" : server.substr(q);
    std::string base = server.substr(0, slash + 1);
    db.mariaName = "jrxbench_" + std::to_string(getpid()) + "_" + std::to_string(counter);
    auto admin = ASDatabase::Open(base + query);
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + db.mariaName);
    admin->Session()->ExecuteSql("CREATE DATABASE " + db.mariaName);
    db.url = base + db.mariaName + query;
  }
  JRXDatabase::open(db.url);
  JRXConfiguration::setLocalEID(kLocal);
  JRXEnvDirectory::put(kLocal, "node", "local-node");
  JRXEnvDirectory::put(kNode, "node", "node-1");
  createLogTables();
  return db;
}

void dropDb(const BenchDb& db) {
  JRXDatabase::close();
  if (db.backend == "sqlite") {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      std::remove((db.sqlitePath + suffix).c_str());
  } else {
    std::string server = mariaServer();
    size_t slash = server.find('/', server.find("://") + 3);
    size_t q = server.find('?', slash);
    auto admin = ASDatabase::Open(server.substr(0, slash + 1) +
                                  (q == std::string::npos ? "" : server.substr(q)));
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + db.mariaName);
  }
}

JRXRequestProgressData report(const std::string& id, int status, int progress, long time,
                              const std::string& text) {
  JRXRequestProgressData r(id);
  r.name = "vm.start";
  r.status = status;
  r.progress = progress;
  r.time = time;
  r.info.setText(text);
  r.info.addParameter("vm", "web-1");
  r.eid = kNode;
  return r;
}

// ------------------------------------------------------------- the direct statements

// The statements saveProgress issues for a first report without named environments, and
// for a later one, with values bound the same way. Implemented once per C API.
class Direct {
 public:
  virtual ~Direct() = default;
  virtual void begin() = 0;
  virtual void commit() = 0;
  // SELECT op_log by id; true when found (fills opId, status).
  virtual bool findOp(const std::string& id, int& opId, int& status) = 0;
  virtual int insertOp(const std::string& id, int status, int time) = 0;
  virtual int envId(const std::string& guid, const std::string& title, const std::string& type) = 0;
  // SELECT op_log_env link; INSERT it (after deleting the role's defaults when named).
  virtual void link(int opId, int envId, const char* role, bool isDefault) = 0;
  virtual void readLinks(int opId) = 0;
  // Latest text; true when there is one.
  virtual bool latest(int opId, int& dataId, std::string& info) = 0;
  virtual void insertData(int opId, int progress, int time, int status, const std::string& blob) = 0;
  virtual void refreshData(int dataId, int opId, int progress, int time) = 0;
  virtual void updateStatus(int opId, int status) = 0;
};

std::string guidBytes(const JRXEID& e) { return guidToRDBMSGuid(e).Bytes(); }

void directFirst(Direct& d, const std::string& id, const std::string& blob) {
  d.begin();
  int opId = 0, status = 0;
  if (d.findOp(id, opId, status)) throw std::runtime_error("duplicate id");
  opId = d.insertOp(id, 1, kT0);
  int local = d.envId(guidBytes(kLocal), "local-node", "node");
  d.link(opId, local, "S", true);
  local = d.envId(guidBytes(kLocal), "local-node", "node");
  d.link(opId, local, "O", true);
  int node = d.envId(guidBytes(kNode), "node-1", "node");
  d.link(opId, node, "P", false);
  d.insertData(opId, 0, kT0, 1, blob);
  d.commit();
}

void directLater(Direct& d, const std::string& id, int progress, const std::string& blob) {
  d.begin();
  int opId = 0, status = 0;
  if (!d.findOp(id, opId, status)) throw std::runtime_error("missing operation");
  d.readLinks(opId);
  if (status != 2) d.updateStatus(opId, 2);
  int dataId = 0;
  std::string info;
  if (d.latest(opId, dataId, info) && std::strcmp(info.c_str(), blob.c_str()) == 0)
    d.refreshData(dataId, opId, progress, kT0 + progress);
  else
    d.insertData(opId, progress, kT0 + progress, 2, blob);
  d.commit();
}

// ---- SQLite

class SqliteDirect : public Direct {
 public:
  explicit SqliteDirect(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite open");
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA busy_timeout=10000");
    findOp_ = prep("SELECT op_id, op, id, parent_id, time, status, session_id FROM op_log WHERE id = ? LIMIT 1");
    insertOp_ = prep("INSERT INTO op_log (op_id, op, id, parent_id, time, status, session_id) VALUES (NULL, ?, ?, ?, ?, ?, ?)");
    findEnv_ = prep("SELECT id FROM env_log WHERE eid = ? AND title = ? LIMIT 1");
    insertEnv_ = prep("INSERT INTO env_log (id, eid, title, type) VALUES (NULL, ?, ?, ?)");
    findLink_ = prep("SELECT op_id, is_default FROM op_log_env WHERE op_id = ? AND env_id = ? AND role = ? LIMIT 1");
    deleteDefaults_ = prep("DELETE FROM op_log_env WHERE op_id = ? AND role = ? AND is_default = 'Y'");
    insertLink_ = prep("INSERT INTO op_log_env (op_id, env_id, role, is_default) VALUES (?, ?, ?, ?)");
    readLinks_ = prep("SELECT e.eid, l.role FROM op_log_env l, env_log e WHERE l.op_id = ? AND e.id = l.env_id");
    latest_ = prep("SELECT data_id, info FROM op_log_data WHERE op_id = ? ORDER BY data_id DESC LIMIT 1");
    insertData_ = prep("INSERT INTO op_log_data (data_id, op_id, progress, time, status, info) VALUES (NULL, ?, ?, ?, ?, ?)");
    refresh_ = prep("UPDATE op_log_data SET progress = ?, time = ? WHERE data_id = ? AND op_id = ?");
    status_ = prep("UPDATE op_log SET status = ? WHERE op_id = ?");
    begin_ = prep("BEGIN IMMEDIATE");
    commit_ = prep("COMMIT");
  }
  ~SqliteDirect() override {
    for (sqlite3_stmt* s : all_) sqlite3_finalize(s);
    sqlite3_close(db_);
  }

  void begin() override { run(begin_); }
  void commit() override { run(commit_); }
  bool findOp(const std::string& id, int& opId, int& status) override {
    text(findOp_, 1, id);
    bool found = step(findOp_);
    if (found) {
      opId = sqlite3_column_int(findOp_, 0);
      status = sqlite3_column_int(findOp_, 5);
    }
    sqlite3_reset(findOp_);
    return found;
  }
  int insertOp(const std::string& id, int status, int time) override {
    text(insertOp_, 1, "vm.start");
    text(insertOp_, 2, id);
    text(insertOp_, 3, "");
    sqlite3_bind_int(insertOp_, 4, time);
    sqlite3_bind_int(insertOp_, 5, status);
    text(insertOp_, 6, "");
    run(insertOp_);
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
  }
  int envId(const std::string& guid, const std::string& title, const std::string& type) override {
    sqlite3_bind_blob(findEnv_, 1, guid.data(), static_cast<int>(guid.size()), SQLITE_TRANSIENT);
    text(findEnv_, 2, title);
    if (step(findEnv_)) {
      int id = sqlite3_column_int(findEnv_, 0);
      sqlite3_reset(findEnv_);
      return id;
    }
    sqlite3_reset(findEnv_);
    sqlite3_bind_blob(insertEnv_, 1, guid.data(), static_cast<int>(guid.size()), SQLITE_TRANSIENT);
    text(insertEnv_, 2, title);
    text(insertEnv_, 3, type);
    run(insertEnv_);
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
  }
  void link(int opId, int envId, const char* role, bool isDefault) override {
    sqlite3_bind_int(findLink_, 1, opId);
    sqlite3_bind_int(findLink_, 2, envId);
    text(findLink_, 3, role);
    bool found = step(findLink_);
    sqlite3_reset(findLink_);
    if (found) return;
    if (!isDefault) {
      sqlite3_bind_int(deleteDefaults_, 1, opId);
      text(deleteDefaults_, 2, role);
      run(deleteDefaults_);
    }
    sqlite3_bind_int(insertLink_, 1, opId);
    sqlite3_bind_int(insertLink_, 2, envId);
    text(insertLink_, 3, role);
    text(insertLink_, 4, isDefault ? "Y" : "N");
    run(insertLink_);
  }
  void readLinks(int opId) override {
    sqlite3_bind_int(readLinks_, 1, opId);
    while (step(readLinks_)) benchmark::DoNotOptimize(sqlite3_column_blob(readLinks_, 0));
    sqlite3_reset(readLinks_);
  }
  bool latest(int opId, int& dataId, std::string& info) override {
    sqlite3_bind_int(latest_, 1, opId);
    bool found = step(latest_);
    if (found) {
      dataId = sqlite3_column_int(latest_, 0);
      info.assign(static_cast<const char*>(sqlite3_column_blob(latest_, 1)),
                  static_cast<size_t>(sqlite3_column_bytes(latest_, 1)));
    }
    sqlite3_reset(latest_);
    return found;
  }
  void insertData(int opId, int progress, int time, int status, const std::string& blob) override {
    sqlite3_bind_int(insertData_, 1, opId);
    sqlite3_bind_int(insertData_, 2, progress);
    sqlite3_bind_int(insertData_, 3, time);
    sqlite3_bind_int(insertData_, 4, status);
    sqlite3_bind_blob(insertData_, 5, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    run(insertData_);
  }
  void refreshData(int dataId, int opId, int progress, int time) override {
    sqlite3_bind_int(refresh_, 1, progress);
    sqlite3_bind_int(refresh_, 2, time);
    sqlite3_bind_int(refresh_, 3, dataId);
    sqlite3_bind_int(refresh_, 4, opId);
    run(refresh_);
  }
  void updateStatus(int opId, int status) override {
    sqlite3_bind_int(status_, 1, status);
    sqlite3_bind_int(status_, 2, opId);
    run(status_);
  }

 private:
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
  void text(sqlite3_stmt* s, int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
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

  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> all_;
  sqlite3_stmt *findOp_, *insertOp_, *findEnv_, *insertEnv_, *findLink_, *deleteDefaults_,
      *insertLink_, *readLinks_, *latest_, *insertData_, *refresh_, *status_, *begin_, *commit_;
};

// ---- MariaDB

class MariaDirect : public Direct {
 public:
  explicit MariaDirect(const std::string& database) {
    MariaUrl u = parseMaria(mariaServer());
    conn_ = mysql_init(nullptr);
    if (!mysql_real_connect(conn_, u.host.c_str(), u.user.c_str(),
                            u.password.empty() ? nullptr : u.password.c_str(), database.c_str(),
                            u.port, u.socket.empty() ? nullptr : u.socket.c_str(), 0))
      throw std::runtime_error(mysql_error(conn_));
    findOp_ = prep("SELECT op_id, op, id, parent_id, time, status, session_id FROM op_log WHERE id = ? LIMIT 1");
    insertOp_ = prep("INSERT INTO op_log (op, id, parent_id, time, status, session_id) VALUES (?, ?, ?, ?, ?, ?)");
    findEnv_ = prep("SELECT id FROM env_log WHERE eid = ? AND title = ? LIMIT 1");
    insertEnv_ = prep("INSERT INTO env_log (eid, title, type) VALUES (?, ?, ?)");
    findLink_ = prep("SELECT op_id, is_default FROM op_log_env WHERE op_id = ? AND env_id = ? AND role = ? LIMIT 1");
    deleteDefaults_ = prep("DELETE FROM op_log_env WHERE op_id = ? AND role = ? AND is_default = 'Y'");
    insertLink_ = prep("INSERT INTO op_log_env (op_id, env_id, role, is_default) VALUES (?, ?, ?, ?)");
    readLinks_ = prep("SELECT e.eid, l.role FROM op_log_env l, env_log e WHERE l.op_id = ? AND e.id = l.env_id");
    latest_ = prep("SELECT data_id, info FROM op_log_data WHERE op_id = ? ORDER BY data_id DESC LIMIT 1");
    insertData_ = prep("INSERT INTO op_log_data (op_id, progress, time, status, info) VALUES (?, ?, ?, ?, ?)");
    refresh_ = prep("UPDATE op_log_data SET progress = ?, time = ? WHERE data_id = ? AND op_id = ?");
    status_ = prep("UPDATE op_log SET status = ? WHERE op_id = ?");
  }
  ~MariaDirect() override {
    for (MYSQL_STMT* s : all_) mysql_stmt_close(s);
    mysql_close(conn_);
  }

  void begin() override { query("START TRANSACTION"); }
  void commit() override { query("COMMIT"); }
  bool findOp(const std::string& id, int& opId, int& status) override {
    Params p;
    p.text(id);
    std::vector<long long> ints;
    bool found = select(findOp_, p, {0, 5}, &ints, nullptr);
    if (found) {
      opId = static_cast<int>(ints[0]);
      status = static_cast<int>(ints[1]);
    }
    return found;
  }
  int insertOp(const std::string& id, int status, int time) override {
    Params p;
    p.text("vm.start").text(id).text("").integer(time).integer(status).text("");
    execute(insertOp_, p);
    return static_cast<int>(mysql_stmt_insert_id(insertOp_));
  }
  int envId(const std::string& guid, const std::string& title, const std::string& type) override {
    Params p;
    p.blob(guid).text(title);
    std::vector<long long> ints;
    if (select(findEnv_, p, {0}, &ints, nullptr)) return static_cast<int>(ints[0]);
    Params i;
    i.blob(guid).text(title).text(type);
    execute(insertEnv_, i);
    return static_cast<int>(mysql_stmt_insert_id(insertEnv_));
  }
  void link(int opId, int envId, const char* role, bool isDefault) override {
    Params p;
    p.integer(opId).integer(envId).text(role);
    if (select(findLink_, p, {}, nullptr, nullptr)) return;
    if (!isDefault) {
      Params d;
      d.integer(opId).text(role);
      execute(deleteDefaults_, d);
    }
    Params i;
    i.integer(opId).integer(envId).text(role).text(isDefault ? "Y" : "N");
    execute(insertLink_, i);
  }
  void readLinks(int opId) override {
    Params p;
    p.integer(opId);
    selectAll(readLinks_, p);
  }
  bool latest(int opId, int& dataId, std::string& info) override {
    Params p;
    p.integer(opId);
    std::vector<long long> ints;
    bool found = select(latest_, p, {0}, &ints, &info);
    if (found) dataId = static_cast<int>(ints[0]);
    return found;
  }
  void insertData(int opId, int progress, int time, int status, const std::string& blob) override {
    Params p;
    p.integer(opId).integer(progress).integer(time).integer(status).blob(blob);
    execute(insertData_, p);
  }
  void refreshData(int dataId, int opId, int progress, int time) override {
    Params p;
    p.integer(progress).integer(time).integer(dataId).integer(opId);
    execute(refresh_, p);
  }
  void updateStatus(int opId, int status) override {
    Params p;
    p.integer(status).integer(opId);
    execute(status_, p);
  }

 private:
  struct Params {
    std::vector<MYSQL_BIND> binds;
    std::vector<std::unique_ptr<std::string>> texts;
    std::vector<std::unique_ptr<long long>> ints;
    std::vector<std::unique_ptr<unsigned long>> lengths;
    Params& text(const std::string& v) { return bytes(v, MYSQL_TYPE_STRING); }
    Params& blob(const std::string& v) { return bytes(v, MYSQL_TYPE_BLOB); }
    Params& bytes(const std::string& v, enum_field_types type) {
      texts.emplace_back(new std::string(v));
      lengths.emplace_back(new unsigned long(v.size()));
      MYSQL_BIND b;
      std::memset(&b, 0, sizeof b);
      b.buffer_type = type;
      b.buffer = const_cast<char*>(texts.back()->data());
      b.buffer_length = v.size();
      b.length = lengths.back().get();
      binds.push_back(b);
      return *this;
    }
    Params& integer(long long v) {
      ints.emplace_back(new long long(v));
      MYSQL_BIND b;
      std::memset(&b, 0, sizeof b);
      b.buffer_type = MYSQL_TYPE_LONGLONG;
      b.buffer = ints.back().get();
      binds.push_back(b);
      return *this;
    }
  };

  void query(const char* sql) {
    if (mysql_query(conn_, sql) != 0) throw std::runtime_error(mysql_error(conn_));
  }
  MYSQL_STMT* prep(const char* sql) {
    MYSQL_STMT* s = mysql_stmt_init(conn_);
    if (mysql_stmt_prepare(s, sql, std::strlen(sql)) != 0)
      throw std::runtime_error(std::string(sql) + ": " + mysql_stmt_error(s));
    all_.push_back(s);
    return s;
  }
  void execute(MYSQL_STMT* s, Params& p) {
    if (mysql_stmt_bind_param(s, p.binds.data()) != 0 || mysql_stmt_execute(s) != 0)
      throw std::runtime_error(mysql_stmt_error(s));
  }
  // Fetches the first row: the integer columns asked for, and column 1 as bytes when
  // `bytes` is given. The rest of the result is discarded.
  bool select(MYSQL_STMT* s, Params& p, std::vector<int> intColumns, std::vector<long long>* ints,
              std::string* bytes) {
    execute(s, p);
    unsigned columns = mysql_stmt_field_count(s);
    // Nothing is copied at fetch time; the wanted columns are fetched one by one after it.
    std::vector<MYSQL_BIND> out(columns);
    std::vector<unsigned long> lengths(columns);
    std::memset(out.data(), 0, sizeof(MYSQL_BIND) * columns);
    for (unsigned c = 0; c < columns; ++c) {
      out[c].buffer_type = MYSQL_TYPE_STRING;
      out[c].length = &lengths[c];
    }
    mysql_stmt_bind_result(s, out.data());
    int rc = mysql_stmt_fetch(s);
    bool found = rc == 0 || rc == MYSQL_DATA_TRUNCATED;
    if (found) {
      for (int w : intColumns) {
        long long v = 0;
        MYSQL_BIND b;
        std::memset(&b, 0, sizeof b);
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &v;
        mysql_stmt_fetch_column(s, &b, static_cast<unsigned>(w), 0);
        if (ints) ints->push_back(v);
      }
      if (bytes) {
        bytes->assign(lengths[1], '\0');
        MYSQL_BIND b;
        std::memset(&b, 0, sizeof b);
        b.buffer_type = MYSQL_TYPE_BLOB;
        b.buffer = &(*bytes)[0];
        b.buffer_length = lengths[1];
        if (lengths[1] > 0) mysql_stmt_fetch_column(s, &b, 1, 0);
      }
    }
    mysql_stmt_free_result(s);
    mysql_stmt_reset(s);
    return found;
  }
  void selectAll(MYSQL_STMT* s, Params& p) {
    execute(s, p);
    while (mysql_stmt_fetch(s) == 0) {
    }
    mysql_stmt_free_result(s);
    mysql_stmt_reset(s);
  }

  MYSQL* conn_ = nullptr;
  std::vector<MYSQL_STMT*> all_;
  MYSQL_STMT *findOp_, *insertOp_, *findEnv_, *insertEnv_, *findLink_, *deleteDefaults_,
      *insertLink_, *readLinks_, *latest_, *insertData_, *refresh_, *status_;
};

std::unique_ptr<Direct> direct(const BenchDb& db) {
  if (db.backend == "sqlite") return std::unique_ptr<Direct>(new SqliteDirect(db.sqlitePath));
  return std::unique_ptr<Direct>(new MariaDirect(db.mariaName));
}

// ----------------------------------------------------------------------- benchmarks

enum Kind { kFirst, kLaterAppend, kLaterFold };

std::string blobOf(const JRXInfo& info) {
  std::string text;
  logdb::putInfoToString(info, text);
  return text + std::string(1, '\0');
}

void rate(benchmark::State& state) {
  state.counters["reports/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SaveProgress(benchmark::State& state, std::string backend, Kind kind) {
  BenchDb db = freshDb(backend);
  {
    JRXOpLogLocal log(nullptr);
    if (kind != kFirst && log.saveProgress(report("op", 0, 0, kT0, "start")) != 0)
      state.SkipWithError("cannot create the operation");
    long n = 0;
    for (auto _ : state) {
      ++n;
      int rc;
      if (kind == kFirst)
        rc = log.saveProgress(report("op-" + std::to_string(n), 0, 0, kT0, "start"));
      else
        rc = log.saveProgress(report("op", 0, static_cast<int>(n % 100), kT0 + n,
                                     kind == kLaterFold ? "same" : "text " + std::to_string(n)));
      if (rc != 0) {
        state.SkipWithError(log.getContextLocal()->getLastError().message.c_str());
        break;
      }
    }
  }
  rate(state);
  dropDb(db);
}

void BM_Direct(benchmark::State& state, std::string backend, Kind kind) {
  BenchDb db = freshDb(backend);
  JRXDatabase::close();
  {
    std::unique_ptr<Direct> d = direct(db);
    if (kind != kFirst) directFirst(*d, "op", blobOf(report("op", 0, 0, kT0, "start").info));
    long n = 0;
    for (auto _ : state) {
      ++n;
      // The text form is part of the work of a report in either case.
      if (kind == kFirst) {
        directFirst(*d, "op-" + std::to_string(n), blobOf(report("", 0, 0, kT0, "start").info));
      } else {
        auto r = report("op", 0, static_cast<int>(n % 100), kT0 + n,
                        kind == kLaterFold ? "same" : "text " + std::to_string(n));
        directLater(*d, "op", r.progress, blobOf(r.info));
      }
    }
  }
  rate(state);
  JRXDatabase::open(db.url);
  dropDb(db);
}

// Keeps the rates so that the ratios can be printed after all runs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("reports/s");
      if (r.error_occurred || it == r.counters.end()) continue;
      std::string name = r.benchmark_name();
      size_t suffix = name.find("/real_time");
      if (suffix != std::string::npos) name.erase(suffix);
      rates[name] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

const char* kindName(Kind k) {
  return k == kFirst ? "first" : k == kLaterAppend ? "later_append" : "later_fold";
}

}  // namespace

int main(int argc, char** argv) {
  setLogSink(std::make_shared<JRXCapturingLogSink>());
  std::vector<std::string> backends{"sqlite"};
  if (mariaServer() && *mariaServer()) backends.push_back("mariadb");
  for (const std::string& b : backends)
    for (Kind k : {kFirst, kLaterAppend, kLaterFold}) {
      std::string suffix = std::string("/") + kindName(k) + "/" + b;
      benchmark::RegisterBenchmark(("saveProgress" + suffix).c_str(), BM_SaveProgress, b, k)
          ->UseRealTime();
      benchmark::RegisterBenchmark(("direct" + suffix).c_str(), BM_Direct, b, k)->UseRealTime();
    }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nsaveProgress rate / direct C API rate:\n");
  for (const std::string& b : backends)
    for (Kind k : {kFirst, kLaterAppend, kLaterFold}) {
      std::string suffix = std::string("/") + kindName(k) + "/" + b;
      auto lib = reporter.rates.find("saveProgress" + suffix);
      auto raw = reporter.rates.find("direct" + suffix);
      if (lib == reporter.rates.end() || raw == reporter.rates.end() || raw->second <= 0) continue;
      std::printf("  %-22s %10.0f vs %10.0f reports/s  ratio %.2f\n", suffix.c_str() + 1,
                  lib->second, raw->second, lib->second / raw->second);
    }
  return 0;
}
