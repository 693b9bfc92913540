// Progress reports per second through saveProgress, against the same statements issued
// directly on the database's C API with prepared statements (the floor any layer on top of
// the driver can reach). First reports create an operation with its links; later reports
// either append a new text or refresh the latest one.
//
// SQLite always; MariaDB when JRX_TEST_MARIADB_URL names a server
// (mysql://root@localhost/?socket=/path/mysqld.sock). The ratio lines at the end give
// saveProgress's rate as a fraction of the direct rate. JRX_BENCH_SMALL=1 runs each case for a
// shorter time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "JRXConversions.h"
#include "JRXLog.h"
#include "JRXRequest.h"
#include "MariaApi.h"
#include "RatioReporter.h"
#include "SqliteApi.h"
#include "store/ValueEncodings.h"

using namespace JRX;
using namespace opbench;

namespace {

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kNode(0x70de, 0x1);
const long kT0 = 1701000000;

BenchDb freshDb(const std::string& backend) {
  BenchDb db = opbench::freshDb(backend, kLocal);
  JRXEnvDirectory::put(kNode, "node", "node-1");
  return db;
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
  // The operation's links of one role: whether `envId` is among them, and whether any is a
  // stand-in (a default link).
  virtual void roleLinks(int opId, const char* role, int envId, bool& found, bool& standIns) = 0;
  virtual void deleteDefaults(int opId, const char* role) = 0;
  virtual void insertLink(int opId, int envId, const char* role, bool isDefault) = 0;
  virtual void readLinks(int opId) = 0;
  // Latest text; true when there is one.
  virtual bool latest(int opId, int& dataId, std::string& info) = 0;
  virtual void insertData(int opId, int progress, int time, int status, const std::string& blob) = 0;
  virtual void refreshData(int dataId, int opId, int progress, int time) = 0;
  virtual void updateStatus(int opId, int status) = 0;
};

std::string guidBytes(const JRXEID& e) { return guidToRDBMSGuid(e).Bytes(); }

// One link as saveProgress makes it: the role's links read once; a named environment replaces
// the role's stand-ins.
void directLink(Direct& d, int opId, int envId, const char* role, bool isDefault) {
  bool found = false, standIns = false;
  d.roleLinks(opId, role, envId, found, standIns);
  if (found) return;
  if (!isDefault && standIns) d.deleteDefaults(opId, role);
  d.insertLink(opId, envId, role, isDefault);
}

// The local node stands in as source and operand; the executing node is linked by name. The
// environments are looked up once each, in the order of their stored keys.
void directFirst(Direct& d, const std::string& id, const std::string& blob) {
  d.begin();
  int opId = 0, status = 0;
  if (d.findOp(id, opId, status)) throw std::runtime_error("duplicate id");
  opId = d.insertOp(id, 1, kT0);
  const int node = d.envId(guidBytes(kNode), "node-1", "node");
  const int local = d.envId(guidBytes(kLocal), "local-node", "node");
  directLink(d, opId, local, "S", true);
  directLink(d, opId, local, "O", true);
  directLink(d, opId, node, "P", false);
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

// The statements exactly as saveProgress sends them (a cursor without a limit asks for one
// row beyond a page, to know that one statement serves).
// The operation's row is read through its index and, on MariaDB, locked: reports about one
// operation take turns from there.
const char* kFindOpSqlite =
    "SELECT t1.op_id, t1.op, t1.id, t1.parent_id, t1.time, t1.status, t1.session_id FROM op_log t1 "
    "INDEXED BY op_log_id WHERE t1.id = ? LIMIT ?";
const char* kFindOpMaria =
    "SELECT t1.op_id, t1.op, t1.id, t1.parent_id, t1.time, t1.status, t1.session_id FROM op_log t1 "
    "FORCE INDEX (op_log_id) WHERE t1.id = ? LIMIT ? FOR UPDATE";
const char* kInsertOp =
    "INSERT INTO op_log (op, id, parent_id, time, status, session_id) VALUES (?, ?, ?, ?, ?, ?)";
const char* kFindEnv = "SELECT t1.id FROM env_log t1 WHERE t1.eid = ? AND t1.title = ? LIMIT ?";
const char* kInsertEnv = "INSERT INTO env_log (eid, title, type) VALUES (?, ?, ?)";
const char* kRoleLinks =
    "SELECT t1.env_id, t1.is_default FROM op_log_env t1 WHERE t1.op_id = ? AND t1.role = ? LIMIT ?";
const char* kDeleteDefaults =
    "DELETE FROM op_log_env WHERE ((op_log_env.op_id = ? AND op_log_env.role = ?) AND "
    "op_log_env.is_default = ?)";
const char* kInsertLink = "INSERT INTO op_log_env (op_id, env_id, role, is_default) VALUES (?, ?, ?, ?)";
// The reads that carry plan hints, in each dialect.
const char* kReadLinksSqlite =
    "SELECT t1.eid, t2.role FROM op_log_env t2 INDEXED BY sqlite_autoindex_op_log_env_1 CROSS "
    "JOIN env_log t1 WHERE t2.op_id = ? AND t1.id = t2.env_id LIMIT ?";
const char* kReadLinksMaria =
    "SELECT t1.eid, t2.role FROM op_log_env t2 FORCE INDEX (PRIMARY) STRAIGHT_JOIN env_log t1 "
    "WHERE t2.op_id = ? AND t1.id = t2.env_id LIMIT ?";
const char* kLatestSqlite =
    "SELECT t1.data_id, t1.info FROM op_log_data t1 INDEXED BY op_log_data_op WHERE t1.op_id = ? "
    "ORDER BY t1.data_id DESC LIMIT ?";
const char* kLatestMaria =
    "SELECT t1.data_id, t1.info FROM op_log_data t1 FORCE INDEX (op_log_data_op) WHERE t1.op_id "
    "= ? ORDER BY t1.data_id DESC LIMIT ?";
const char* kInsertData =
    "INSERT INTO op_log_data (op_id, progress, time, status, info) VALUES (?, ?, ?, ?, ?)";
const char* kRefresh =
    "UPDATE op_log_data SET progress = ?, time = ? WHERE (op_log_data.data_id = ? AND "
    "op_log_data.op_id = ?)";
const char* kStatus = "UPDATE op_log SET status = ? WHERE op_log.op_id = ?";
const int kPageProbe = 501;

// ---- SQLite

class SqliteDirect : public Direct, private SqliteApi {
 public:
  explicit SqliteDirect(const std::string& path)
      : SqliteApi(path),
        findOp_(prep(kFindOpSqlite)),
        insertOp_(prep(kInsertOp)),
        findEnv_(prep(kFindEnv)),
        insertEnv_(prep(kInsertEnv)),
        roleLinks_(prep(kRoleLinks)),
        deleteDefaults_(prep(kDeleteDefaults)),
        insertLink_(prep(kInsertLink)),
        readLinks_(prep(kReadLinksSqlite)),
        latest_(prep(kLatestSqlite)),
        insertData_(prep(kInsertData)),
        refresh_(prep(kRefresh)),
        status_(prep(kStatus)),
        begin_(prep("BEGIN IMMEDIATE")),
        commit_(prep("COMMIT")) {}
  void begin() override { run(begin_); }
  void commit() override { run(commit_); }
  bool findOp(const std::string& id, int& opId, int& status) override {
    text(findOp_, 1, id);
    sqlite3_bind_int(findOp_, 2, 1);
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
    return static_cast<int>(sqlite3_last_insert_rowid(handle()));
  }
  int envId(const std::string& guid, const std::string& title, const std::string& type) override {
    return envRow(findEnv_, insertEnv_, guid, title, type);
  }
  void roleLinks(int opId, const char* role, int envId, bool& found, bool& standIns) override {
    sqlite3_bind_int(roleLinks_, 1, opId);
    text(roleLinks_, 2, role);
    sqlite3_bind_int(roleLinks_, 3, kPageProbe);
    while (step(roleLinks_)) {
      const bool isDefault = sqlite3_column_bytes(roleLinks_, 1) == 1 &&
                             *sqlite3_column_text(roleLinks_, 1) == 'Y';
      if (sqlite3_column_int(roleLinks_, 0) == envId) found = true;
      standIns = standIns || isDefault;
    }
    sqlite3_reset(roleLinks_);
  }
  void deleteDefaults(int opId, const char* role) override {
    sqlite3_bind_int(deleteDefaults_, 1, opId);
    text(deleteDefaults_, 2, role);
    text(deleteDefaults_, 3, "Y");
    run(deleteDefaults_);
  }
  void insertLink(int opId, int envId, const char* role, bool isDefault) override {
    sqlite3_bind_int(insertLink_, 1, opId);
    sqlite3_bind_int(insertLink_, 2, envId);
    text(insertLink_, 3, role);
    text(insertLink_, 4, isDefault ? "Y" : "N");
    run(insertLink_);
  }
  void readLinks(int opId) override {
    sqlite3_bind_int(readLinks_, 1, opId);
    sqlite3_bind_int(readLinks_, 2, kPageProbe);
    while (step(readLinks_)) benchmark::DoNotOptimize(sqlite3_column_blob(readLinks_, 0));
    sqlite3_reset(readLinks_);
  }
  bool latest(int opId, int& dataId, std::string& info) override {
    sqlite3_bind_int(latest_, 1, opId);
    sqlite3_bind_int(latest_, 2, 1);
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
    SqliteApi::blob(insertData_, 5, blob);
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
  sqlite3_stmt *findOp_, *insertOp_, *findEnv_, *insertEnv_, *roleLinks_, *deleteDefaults_,
      *insertLink_, *readLinks_, *latest_, *insertData_, *refresh_, *status_, *begin_, *commit_;
};

// ---- MariaDB

class MariaDirect : public Direct, private MariaApi {
 public:
  explicit MariaDirect(const std::string& database)
      : MariaApi(database, "binary"),
        findOp_(prep(kFindOpMaria)),
        insertOp_(prep(kInsertOp)),
        findEnv_(prep(kFindEnv)),
        insertEnv_(prep(kInsertEnv)),
        roleLinks_(prep(kRoleLinks)),
        deleteDefaults_(prep(kDeleteDefaults)),
        insertLink_(prep(kInsertLink)),
        readLinks_(prep(kReadLinksMaria)),
        latest_(prep(kLatestMaria)),
        insertData_(prep(kInsertData)),
        refresh_(prep(kRefresh)),
        status_(prep(kStatus)) {
    autocommit(false);
  }
  void begin() override {}
  void commit() override { MariaApi::commit(); }
  bool findOp(const std::string& id, int& opId, int& status) override {
    MariaParams p;
    p.text(id).integer(1);
    std::vector<long long> ints;
    bool found = select(findOp_, p, {0, 5}, &ints, nullptr);
    if (found) {
      opId = static_cast<int>(ints[0]);
      status = static_cast<int>(ints[1]);
    }
    return found;
  }
  int insertOp(const std::string& id, int status, int time) override {
    MariaParams p;
    p.text("vm.start").text(id).text("").integer(time).integer(status).text("");
    execute(insertOp_, p);
    return insertId(insertOp_);
  }
  int envId(const std::string& guid, const std::string& title, const std::string& type) override {
    return envRow(findEnv_, insertEnv_, guid, title, type);
  }
  void roleLinks(int opId, const char* role, int envId, bool& found, bool& standIns) override {
    MariaParams p;
    p.integer(opId).text(role).integer(kPageProbe);
    execute(roleLinks_, p);
    long long env = 0;
    char mark = 0;
    unsigned long markLength = 0;
    MYSQL_BIND out[2];
    std::memset(out, 0, sizeof out);
    out[0].buffer_type = MYSQL_TYPE_LONGLONG;
    out[0].buffer = &env;
    out[1].buffer_type = MYSQL_TYPE_STRING;
    out[1].buffer = &mark;
    out[1].buffer_length = 1;
    out[1].length = &markLength;
    mysql_stmt_bind_result(roleLinks_, out);
    for (int rc; (rc = mysql_stmt_fetch(roleLinks_)) == 0 || rc == MYSQL_DATA_TRUNCATED;) {
      if (env == envId) found = true;
      standIns = standIns || (markLength == 1 && mark == 'Y');
    }
    mysql_stmt_free_result(roleLinks_);
  }
  void deleteDefaults(int opId, const char* role) override {
    MariaParams d;
    d.integer(opId).text(role).text("Y");
    execute(deleteDefaults_, d);
  }
  void insertLink(int opId, int envId, const char* role, bool isDefault) override {
    MariaParams i;
    i.integer(opId).integer(envId).text(role).text(isDefault ? "Y" : "N");
    execute(insertLink_, i);
  }
  void readLinks(int opId) override {
    MariaParams p;
    p.integer(opId).integer(kPageProbe);
    selectAll(readLinks_, p);
  }
  bool latest(int opId, int& dataId, std::string& info) override {
    MariaParams p;
    p.integer(opId).integer(1);
    std::vector<long long> ints;
    bool found = select(latest_, p, {0}, &ints, &info);
    if (found) dataId = static_cast<int>(ints[0]);
    return found;
  }
  void insertData(int opId, int progress, int time, int status, const std::string& blob) override {
    MariaParams p;
    p.integer(opId).integer(progress).integer(time).integer(status).blob(blob);
    execute(insertData_, p);
  }
  void refreshData(int dataId, int opId, int progress, int time) override {
    MariaParams p;
    p.integer(progress).integer(time).integer(dataId).integer(opId);
    execute(refresh_, p);
  }
  void updateStatus(int opId, int status) override {
    MariaParams p;
    p.integer(status).integer(opId);
    execute(status_, p);
  }

 private:
  // Fetches the first row: the integer columns asked for, and column 1 as bytes when
  // `bytes` is given. The rest of the result is discarded.
  bool select(MYSQL_STMT* s, MariaParams& p, std::vector<int> intColumns, std::vector<long long>* ints,
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
    return found;
  }
  void selectAll(MYSQL_STMT* s, MariaParams& p) {
    execute(s, p);
    while (mysql_stmt_fetch(s) == 0) {
    }
    mysql_stmt_free_result(s);
  }

  MYSQL_STMT *findOp_, *insertOp_, *findEnv_, *insertEnv_, *roleLinks_, *deleteDefaults_,
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
  countRate(state, "reports/s");
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
  countRate(state, "reports/s");
  JRXDatabase::open(db.url);
  dropDb(db);
}

const char* kindName(Kind k) {
  return k == kFirst ? "first" : k == kLaterAppend ? "later_append" : "later_fold";
}

}  // namespace

int main(int argc, char** argv) {
  setLogSink(std::make_shared<JRXCapturingLogSink>());
  const double minTime = bySize(0.1, 0.3);
  // The two sides take turns, so that both see the same load of a shared machine.
  for (int rep = 0; rep < bySize(3, 7); ++rep)
    for (const std::string& b : backends())
      for (Kind k : {kFirst, kLaterAppend, kLaterFold}) {
        std::string suffix = std::string("/") + kindName(k) + "/" + b;
        paced(benchmark::RegisterBenchmark(("saveProgress" + suffix).c_str(), BM_SaveProgress, b, k),
              minTime)
            ->UseRealTime();
        paced(benchmark::RegisterBenchmark(("direct" + suffix).c_str(), BM_Direct, b, k), minTime)
            ->UseRealTime();
      }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("reports/s");
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nsaveProgress rate / direct C API rate: ratio of the median rates by wall clock "
              "(turn by turn), by CPU time\n");
  for (const std::string& b : backends())
    for (Kind k : {kFirst, kLaterAppend, kLaterFold}) {
      std::string suffix = std::string("/") + kindName(k) + "/" + b;
      const std::string lib = "saveProgress" + suffix, raw = "direct" + suffix;
      double libRate = 0, rawRate = 0, libCpu = 0, rawCpu = 0;
      if (reporter.both(lib, raw, libRate, rawRate) && reporter.both(lib, raw, libCpu, rawCpu, true))
        std::printf("  %-22s %8.0f vs %8.0f reports/s  ratio %.2f (%.2f)  cpu %.2f\n",
                    suffix.c_str() + 1, libRate, rawRate, libRate / rawRate,
                    reporter.pairedRatio(lib, raw), libCpu / rawCpu);
    }
  benchmark::Shutdown();
  return 0;
}
