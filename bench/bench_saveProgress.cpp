// Progress reports per second through saveProgress, against a hand-written program that does
// the same steps on the same tables directly on the database's C API, with prepared
// statements kept and no more read than each step needs (the floor any layer on top of the
// driver can reach). First reports create an operation with its links; later reports
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
#include <tuple>
#include <vector>

#include "BenchDb.h"
#include "JRXConversions.h"
#include "JRXEnvDirectory.h"
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

// What a careful hand-written program sends for the same steps on the same tables: each
// read asks for the columns its step uses and at most the one row it needs, a new operation
// gets its links without a look for links it cannot have yet, and a report that names no
// environment touches no link. Implemented once per C API.
class Direct {
 public:
  virtual ~Direct() = default;
  virtual void begin() = 0;
  virtual void commit() = 0;
  // The operation by its request identifier, locked for the rest of the transaction where
  // the database locks rows: its key, status and time (which a restart logs); false when
  // there is none.
  virtual bool findOp(const std::string& id, int& opId, int& status, long& time) = 0;
  virtual int insertOp(const JRXRequestProgressData& r, int status) = 0;
  virtual int envId(const std::string& guid, const std::string& title, const std::string& type) = 0;
  virtual void insertLink(int opId, int envId, const char* role, bool isDefault) = 0;
  // Latest text; true when there is one.
  virtual bool latest(int opId, int& dataId, std::string& info) = 0;
  virtual void insertData(int opId, int progress, int time, int status, const std::string& blob) = 0;
  virtual void refreshData(int dataId, int opId, int progress, int time) = 0;
  virtual void updateStatus(int opId, int status) = 0;
};

std::string guidBytes(const JRXEID& e) { return guidToRDBMSGuid(e).Bytes(); }

// The stored text: the information's text form with its terminating NUL.
std::string blobOf(const JRXInfo& info) {
  std::string text;
  logdb::putInfoToString(info, text);
  text.push_back('\0');
  return text;
}

// A first report that names neither source nor operands: the local node stands in as source
// and operand, the executing node is linked by name, each with the type and title the
// framework knows. The environments are looked up once each, in the order of their stored
// keys.
void directFirst(Direct& d, const JRXRequestProgressData& r) {
  d.begin();
  int opId = 0, status = 0;
  long time = 0;
  if (d.findOp(r.id, opId, status, time)) throw std::runtime_error("duplicate id");
  const int newStatus = r.status == 0 ? 1 : r.status;
  opId = d.insertOp(r, newStatus);
  std::string localType, localTitle, execType, execTitle;
  JRXEnvDirectory::lookup(JRXConfiguration::getLocalEID(), localType, localTitle);
  JRXEnvDirectory::lookup(r.eid, execType, execTitle);
  const std::string localKey = guidBytes(JRXConfiguration::getLocalEID()), execKey = guidBytes(r.eid);
  int local = 0, exec = 0;
  if (std::tie(localKey, localTitle) < std::tie(execKey, execTitle)) {
    local = d.envId(localKey, localTitle, localType);
    exec = d.envId(execKey, execTitle, execType);
  } else {
    exec = d.envId(execKey, execTitle, execType);
    local = d.envId(localKey, localTitle, localType);
  }
  d.insertLink(opId, local, "S", true);
  d.insertLink(opId, local, "O", true);
  d.insertLink(opId, exec, "P", false);
  d.insertData(opId, r.progress, static_cast<int>(r.time), newStatus, blobOf(r.info));
  d.commit();
}

void directLater(Direct& d, const JRXRequestProgressData& r) {
  d.begin();
  int opId = 0, stored = 0;
  long time = 0;
  if (!d.findOp(r.id, opId, stored, time)) throw std::runtime_error("missing operation");
  const int status = r.status == 0 ? 2 : r.status;
  if (stored != status) d.updateStatus(opId, status);
  const std::string blob = blobOf(r.info);
  int dataId = 0;
  std::string info;
  if (status == 2 && d.latest(opId, dataId, info) && std::strcmp(info.c_str(), blob.c_str()) == 0)
    d.refreshData(dataId, opId, r.progress, static_cast<int>(r.time));
  else
    d.insertData(opId, r.progress, static_cast<int>(r.time), status, blob);
  d.commit();
}

const char* kFindOp = "SELECT op_id, status, time FROM op_log WHERE id = ? LIMIT 1";
const char* kInsertOp =
    "INSERT INTO op_log (op, id, parent_id, time, status, session_id) VALUES (?, ?, ?, ?, ?, ?)";
const char* kInsertLink = "INSERT INTO op_log_env (op_id, env_id, role, is_default) VALUES (?, ?, ?, ?)";
const char* kLatest =
    "SELECT data_id, info FROM op_log_data WHERE op_id = ? ORDER BY data_id DESC LIMIT 1";
const char* kInsertData =
    "INSERT INTO op_log_data (op_id, progress, time, status, info) VALUES (?, ?, ?, ?, ?)";
const char* kRefresh = "UPDATE op_log_data SET progress = ?, time = ? WHERE data_id = ? AND op_id = ?";
const char* kStatus = "UPDATE op_log SET status = ? WHERE op_id = ?";

// ---- SQLite

class SqliteDirect : public Direct, private SqliteApi {
 public:
  explicit SqliteDirect(const std::string& path)
      : SqliteApi(path),
        findOp_(prep(kFindOp)),
        insertOp_(prep(kInsertOp)),
        findEnv_(prep(kFindEnv)),
        insertEnv_(prep(kInsertEnv)),
        insertLink_(prep(kInsertLink)),
        latest_(prep(kLatest)),
        insertData_(prep(kInsertData)),
        refresh_(prep(kRefresh)),
        status_(prep(kStatus)),
        begin_(prep("BEGIN IMMEDIATE")),
        commit_(prep("COMMIT")) {}
  void begin() override { run(begin_); }
  void commit() override { run(commit_); }
  bool findOp(const std::string& id, int& opId, int& status, long& time) override {
    text(findOp_, 1, id);
    bool found = step(findOp_);
    if (found) {
      opId = sqlite3_column_int(findOp_, 0);
      status = sqlite3_column_int(findOp_, 1);
      time = sqlite3_column_int(findOp_, 2);
    }
    sqlite3_reset(findOp_);
    return found;
  }
  int insertOp(const JRXRequestProgressData& r, int status) override {
    text(insertOp_, 1, r.name);
    text(insertOp_, 2, r.id);
    text(insertOp_, 3, r.parentId);
    sqlite3_bind_int(insertOp_, 4, static_cast<int>(r.time));
    sqlite3_bind_int(insertOp_, 5, status);
    text(insertOp_, 6, r.sessionId.text);
    run(insertOp_);
    return static_cast<int>(sqlite3_last_insert_rowid(handle()));
  }
  int envId(const std::string& guid, const std::string& title, const std::string& type) override {
    return envRow(findEnv_, insertEnv_, guid, title, type);
  }
  void insertLink(int opId, int envId, const char* role, bool isDefault) override {
    sqlite3_bind_int(insertLink_, 1, opId);
    sqlite3_bind_int(insertLink_, 2, envId);
    sqlite3_bind_text(insertLink_, 3, role, 1, SQLITE_STATIC);
    sqlite3_bind_text(insertLink_, 4, isDefault ? "Y" : "N", 1, SQLITE_STATIC);
    run(insertLink_);
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
  sqlite3_stmt *findOp_, *insertOp_, *findEnv_, *insertEnv_, *insertLink_, *latest_,
      *insertData_, *refresh_, *status_, *begin_, *commit_;
};

// ---- MariaDB

class MariaDirect : public Direct, private MariaApi {
 public:
  explicit MariaDirect(const std::string& database)
      : MariaApi(database, "binary"),
        // Reports about one operation take turns from its row on.
        findOp_(prep((std::string(kFindOp) + " FOR UPDATE").c_str())),
        insertOp_(prep(kInsertOp)),
        findEnv_(prep(kFindEnv)),
        insertEnv_(prep(kInsertEnv)),
        insertLink_(prep(kInsertLink)),
        latest_(prep(kLatest)),
        insertData_(prep(kInsertData)),
        refresh_(prep(kRefresh)),
        status_(prep(kStatus)) {
    autocommit(false);
  }
  void begin() override {}
  void commit() override { MariaApi::commit(); }
  bool findOp(const std::string& id, int& opId, int& status, long& time) override {
    MariaParams p;
    p.text(id);
    long long row[3] = {0, 0, 0};
    if (!fetchOne(findOp_, p, row, 3)) return false;
    opId = static_cast<int>(row[0]);
    status = static_cast<int>(row[1]);
    time = static_cast<long>(row[2]);
    return true;
  }
  int insertOp(const JRXRequestProgressData& r, int status) override {
    MariaParams p;
    p.text(r.name).text(r.id).text(r.parentId).integer(r.time).integer(status).text(r.sessionId.text);
    execute(insertOp_, p);
    return insertId(insertOp_);
  }
  int envId(const std::string& guid, const std::string& title, const std::string& type) override {
    return envRow(findEnv_, insertEnv_, guid, title, type);
  }
  void insertLink(int opId, int envId, const char* role, bool isDefault) override {
    MariaParams i;
    i.integer(opId).integer(envId).text(role).text(isDefault ? "Y" : "N");
    execute(insertLink_, i);
  }
  bool latest(int opId, int& dataId, std::string& info) override {
    MariaParams p;
    p.integer(opId);
    long long id = 0;
    if (!fetchOne(latest_, p, &id, 1, &info)) return false;
    dataId = static_cast<int>(id);
    return true;
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
  MYSQL_STMT *findOp_, *insertOp_, *findEnv_, *insertEnv_, *insertLink_, *latest_, *insertData_,
      *refresh_, *status_;
};

std::unique_ptr<Direct> direct(const BenchDb& db) {
  if (db.backend == "sqlite") return std::unique_ptr<Direct>(new SqliteDirect(db.sqlitePath));
  return std::unique_ptr<Direct>(new MariaDirect(db.mariaName));
}

// ----------------------------------------------------------------------- benchmarks

enum Kind { kFirst, kLaterAppend, kLaterFold };

// The n-th report of a case: a new operation each time, or the next report of one.
JRXRequestProgressData nthReport(Kind kind, long n) {
  if (kind == kFirst) return report("op-" + std::to_string(n), 0, 0, kT0, "start");
  return report("op", 0, static_cast<int>(n % 100), kT0 + n,
                kind == kLaterFold ? "same" : "text " + std::to_string(n));
}

void BM_SaveProgress(benchmark::State& state, std::string backend, Kind kind) {
  BenchDb db = freshDb(backend);
  {
    JRXOpLogLocal log(nullptr);
    if (kind != kFirst && log.saveProgress(report("op", 0, 0, kT0, "start")) != 0)
      state.SkipWithError("cannot create the operation");
    long n = 0;
    for (auto _ : state) {
      if (log.saveProgress(nthReport(kind, ++n)) != 0) {
        state.SkipWithError(log.getContextLocal()->getLastError().message.c_str());
        break;
      }
    }
  }
  countRate(state, "reports/s");
  dropDb(db);
}

// The report is made in the loop on both sides: the caller's work, the same for both.
void BM_Direct(benchmark::State& state, std::string backend, Kind kind) {
  BenchDb db = freshDb(backend);
  JRXDatabase::close();
  {
    std::unique_ptr<Direct> d = direct(db);
    if (kind != kFirst) directFirst(*d, report("op", 0, 0, kT0, "start"));
    long n = 0;
    for (auto _ : state) {
      if (kind == kFirst)
        directFirst(*d, nthReport(kind, ++n));
      else
        directLater(*d, nthReport(kind, ++n));
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
