// Events per second through saveEvent, against a hand-written program that does the same
// steps on the same tables directly on the database's C API, with prepared statements kept
// and no more read than each step needs (the floor any layer on top of the driver can
// reach). Each event names a source and a further environment and a resource, so one save is
// a duplicate check, the event row, two environment look-ups with their links and the
// resource row, in one transaction. The ratio lines at the end give saveEvent's rate as a
// fraction of the direct rate. JRX_BENCH_SMALL=1 runs each case for a shorter time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "BenchDb.h"
#include "JRXConversions.h"
#include "JRXLog.h"
#include "MariaApi.h"
#include "RatioReporter.h"
#include "SqliteApi.h"
#include "store/ValueEncodings.h"

using namespace JRX;
using namespace opbench;

namespace {

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kNode(0x70de, 0x1);
const JRXEID kVm(0x5e, 0x2);
const int kT0 = 1701000000;

JRXInfo envRef(const JRXEID& eid, const std::string& title, const std::string& type) {
  JRXInfo ref("environment");
  ref.addParameter("eid", eid.toString());
  ref.addParameter("type", type);
  ref.addParameter("title", title);
  return ref;
}

JRXEvent makeEvent(long n) {
  JRXEvent e("monitor");
  e.guid = JRXGUID::generate();
  e.time = kT0 + n;
  e.category = "monitor";
  e.type = "alert";
  e.code = 7;
  e.info = JRXInfo("disk {id} of {type} is full");
  e.info.addParameter("source_env", envRef(kNode, "node-1", "node"));
  e.info.addParameter("env", envRef(kVm, "vm-2", "vm"));
  e.info.addParameter("id", "disk-" + std::to_string(n % 16));
  e.info.addParameter("type", "disk");
  return e;
}

// ------------------------------------------------------------- the direct statements

// The steps of saveEvent for such an event, with values bound the same way.
class Direct {
 public:
  virtual ~Direct() = default;
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual bool known(const std::string& guid) = 0;
  virtual int insertEvent(const JRXEvent& e, const std::string& guid, const std::string& infoBin,
                          const std::string& info) = 0;
  virtual int envId(const std::string& eid, const std::string& title, const std::string& type) = 0;
  virtual void link(int eventId, int envId, const char* role) = 0;
  virtual void resource(int eventId, const std::string& id, const std::string& type) = 0;
};

// An environment the event names: its stored key, title and type; false when the reference
// has no valid identifier.
struct EnvRef {
  std::string key, title, type;
};

bool envRef(const JRXInfo* ref, EnvRef& out) {
  const JRXInfo* eid = ref ? ref->getParameter("eid") : nullptr;
  JRXEID parsed;
  if (!eid || parsed.fromString(eid->toString().c_str()) != 0 || !parsed.isValid()) return false;
  out.key = guidToRDBMSGuid(parsed).Bytes();
  if (const JRXInfo* title = ref->getParameter("title")) out.title = title->toString();
  if (const JRXInfo* type = ref->getParameter("type")) out.type = type->toString();
  return true;
}

void directSave(Direct& d, const JRXEvent& e) {
  d.begin();
  const std::string guid = e.guid.toString();
  if (d.known(guid)) throw std::runtime_error("duplicate event");
  std::string infoBin;
  logdb::putInfoToBinary(e.info, infoBin);
  std::string info = e.info.toString();
  info.push_back('\0');
  const int id = d.insertEvent(e, guid, infoBin, info);
  EnvRef source, other;
  if (!envRef(e.info.getParameter("source_env"), source)) throw std::runtime_error("no source");
  const bool hasOther = envRef(e.info.getParameter("env"), other);
  // Both environments are looked up first, in the order of their stored keys.
  int sourceId = 0, otherId = 0;
  if (!hasOther || std::tie(source.key, source.title) < std::tie(other.key, other.title)) {
    sourceId = d.envId(source.key, source.title, source.type);
    if (hasOther) otherId = d.envId(other.key, other.title, other.type);
  } else {
    otherId = d.envId(other.key, other.title, other.type);
    sourceId = d.envId(source.key, source.title, source.type);
  }
  d.link(id, sourceId, "S");
  if (hasOther) d.link(id, otherId, "O");
  const JRXInfo* resourceId = e.info.getParameter("id");
  const JRXInfo* resourceType = e.info.getParameter("type");
  if (resourceId && resourceType) d.resource(id, resourceId->toString(), resourceType->toString());
  d.commit();
}

// As a careful hand-written program sends them: whether the event is known asks for one row
// and no column of it.
const char* kKnown = "SELECT 1 FROM events_log WHERE guid = ? LIMIT 1";
const char* kInsertEvent =
    "INSERT INTO events_log (guid, code, time, category, type, sid, info_bin, info, data) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char* kLink = "INSERT INTO events_log_env (event_id, env_id, role) VALUES (?, ?, ?)";
const char* kResource =
    "INSERT INTO events_log_resource (event_id, resource_id, resource_type) VALUES (?, ?, ?)";

class SqliteDirect : public Direct, private SqliteApi {
 public:
  explicit SqliteDirect(const std::string& path)
      : SqliteApi(path),
        known_(prep(kKnown)),
        insertEvent_(prep(kInsertEvent)),
        findEnv_(prep(kFindEnv)),
        insertEnv_(prep(kInsertEnv)),
        link_(prep(kLink)),
        resource_(prep(kResource)),
        begin_(prep("BEGIN IMMEDIATE")),
        commit_(prep("COMMIT")) {}
  void begin() override { run(begin_); }
  void commit() override { run(commit_); }
  bool known(const std::string& guid) override {
    text(known_, 1, guid);
    bool found = step(known_);
    sqlite3_reset(known_);
    return found;
  }
  int insertEvent(const JRXEvent& e, const std::string& guid, const std::string& infoBin,
                  const std::string& info) override {
    text(insertEvent_, 1, guid);
    sqlite3_bind_int(insertEvent_, 2, e.code);
    sqlite3_bind_int(insertEvent_, 3, logdb::timeToSql(e.time));
    text(insertEvent_, 4, e.category);
    text(insertEvent_, 5, e.type);
    const std::string sid = sidToSql(e.sid);
    text(insertEvent_, 6, sid);
    blob(insertEvent_, 7, infoBin);
    blob(insertEvent_, 8, info);
    sqlite3_bind_null(insertEvent_, 9);
    run(insertEvent_);
    return static_cast<int>(sqlite3_last_insert_rowid(handle()));
  }
  int envId(const std::string& eid, const std::string& title, const std::string& type) override {
    return envRow(findEnv_, insertEnv_, eid, title, type);
  }
  void link(int eventId, int envId, const char* role) override {
    sqlite3_bind_int(link_, 1, eventId);
    sqlite3_bind_int(link_, 2, envId);
    sqlite3_bind_text(link_, 3, role, 1, SQLITE_STATIC);
    run(link_);
  }
  void resource(int eventId, const std::string& id, const std::string& type) override {
    sqlite3_bind_int(resource_, 1, eventId);
    text(resource_, 2, id);
    text(resource_, 3, type);
    run(resource_);
  }

 private:
  sqlite3_stmt *known_, *insertEvent_, *findEnv_, *insertEnv_, *link_, *resource_, *begin_,
      *commit_;
};

class MariaDirect : public Direct, private MariaApi {
 public:
  explicit MariaDirect(const std::string& database)
      : MariaApi(database, "binary"),
        known_(prep(kKnown)),
        insertEvent_(prep(kInsertEvent)),
        findEnv_(prep(kFindEnv)),
        insertEnv_(prep(kInsertEnv)),
        link_(prep(kLink)),
        resource_(prep(kResource)) {
    autocommit(false);
  }
  void begin() override {}
  void commit() override { MariaApi::commit(); }
  bool known(const std::string& guid) override {
    MariaParams p;
    p.text(guid);
    return firstInt(known_, p, nullptr);
  }
  int insertEvent(const JRXEvent& e, const std::string& guid, const std::string& infoBin,
                  const std::string& info) override {
    MariaParams p;
    p.text(guid).integer(e.code).integer(logdb::timeToSql(e.time)).text(e.category)
        .text(e.type).text(sidToSql(e.sid)).blob(infoBin).blob(info).null();
    execute(insertEvent_, p);
    return insertId(insertEvent_);
  }
  int envId(const std::string& eid, const std::string& title, const std::string& type) override {
    return envRow(findEnv_, insertEnv_, eid, title, type);
  }
  void link(int eventId, int envId, const char* role) override {
    MariaParams p;
    p.integer(eventId).integer(envId).text(role);
    execute(link_, p);
  }
  void resource(int eventId, const std::string& id, const std::string& type) override {
    MariaParams p;
    p.integer(eventId).text(id).text(type);
    execute(resource_, p);
  }

 private:
  MYSQL_STMT *known_, *insertEvent_, *findEnv_, *insertEnv_, *link_, *resource_;
};

std::unique_ptr<Direct> direct(const BenchDb& db) {
  if (db.backend == "sqlite") return std::unique_ptr<Direct>(new SqliteDirect(db.sqlitePath));
  return std::unique_ptr<Direct>(new MariaDirect(db.mariaName));
}

// ----------------------------------------------------------------------- benchmarks

void BM_SaveEvent(benchmark::State& state, std::string backend) {
  BenchDb db = freshDb(backend, kLocal);
  {
    JRXEventLogLocal log(nullptr);
    long n = 0;
    for (auto _ : state) {
      state.PauseTiming();
      JRXEvent e = makeEvent(++n);
      state.ResumeTiming();
      if (log.saveEvent(e) != 0) {
        state.SkipWithError(log.endedCommands().back().message.c_str());
        break;
      }
    }
  }
  countRate(state, "events/s");
  dropDb(db);
}

void BM_Direct(benchmark::State& state, std::string backend) {
  BenchDb db = freshDb(backend, kLocal);
  JRXDatabase::close();
  {
    std::unique_ptr<Direct> d = direct(db);
    long n = 0;
    for (auto _ : state) {
      state.PauseTiming();
      JRXEvent e = makeEvent(++n);
      state.ResumeTiming();
      directSave(*d, e);
    }
  }
  countRate(state, "events/s");
  JRXDatabase::open(db.url);
  dropDb(db);
}

}  // namespace

int main(int argc, char** argv) {
  setLogSink(std::make_shared<JRXCapturingLogSink>());
  const double minTime = bySize(0.1, 0.4);
  // The two sides take turns, so that both see the same load of a shared machine.
  for (int rep = 0; rep < bySize(3, 7); ++rep)
    for (const std::string& b : backends()) {
      paced(benchmark::RegisterBenchmark(("saveEvent/" + b).c_str(), BM_SaveEvent, b), minTime)
          ->UseRealTime();
      paced(benchmark::RegisterBenchmark(("direct/" + b).c_str(), BM_Direct, b), minTime)
          ->UseRealTime();
    }
  benchmark::Initialize(&argc, argv);
  // Wall-clock rates: on MariaDB most of a save's time is spent in the server.
  RatioReporter reporter("events/s", benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nsaveEvent against the same statements on the C API (events per second): ratio "
              "of the median rates by wall clock (turn by turn), by CPU time\n");
  for (const std::string& b : backends()) {
    const std::string lib = "saveEvent/" + b, raw = "direct/" + b;
    double libRate = 0, rawRate = 0, libCpu = 0, rawCpu = 0;
    if (reporter.both(lib, raw, libRate, rawRate) && reporter.both(lib, raw, libCpu, rawCpu, true))
      std::printf("  %-8s saveEvent %8.0f   direct %8.0f   ratio %.2f (%.2f)  cpu %.2f\n",
                  b.c_str(), libRate, rawRate, libRate / rawRate, reporter.pairedRatio(lib, raw),
                  libCpu / rawCpu);
  }
  benchmark::Shutdown();
  return 0;
}
