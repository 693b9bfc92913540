// The query library against the same statements written directly on each driver's C API:
// single-row inserts into op_log (committed every 500 rows) and selects of one operation by
// its indexed request identifier. SQLite always; MariaDB when JRX_BENCH_MARIADB_URL or
// JRX_TEST_MARIADB_URL names a server (mysql://root@localhost/?socket=/path/mysqld.sock).
// The ratio lines at the end give library rate / direct rate. JRX_BENCH_SMALL=1 runs each case
// for a shorter time and selects from fewer rows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "ASQuery.h"
#include "BenchDb.h"
#include "MariaApi.h"
#include "RatioReporter.h"
#include "SqliteApi.h"
#include "store/LogTables.h"

using namespace opbench;

namespace {

const int kBatch = 500;        // rows per transaction in the insert runs
const int kSelectRows = bySize(2000, 20000);  // rows the select runs pick from

std::string requestId(int i) { return "req-" + std::to_string(i * 7919 % 1000003) + "-x"; }

// ------------------------------------------------------------------ direct C API access

const char* const kInsertSql =
    "INSERT INTO op_log (op, id, parent_id, time, status, session_id) VALUES (?, ?, ?, ?, ?, ?)";
const char* const kSelectSql =
    "SELECT op_id, op, id, parent_id, time, status, session_id FROM op_log WHERE id = ?";

struct OpRow {
  std::string op = "vm.start", id, parent = "parent-1", session = "session-1";
  int time = 1700000000, status = 1;
};

class Direct {
 public:
  virtual ~Direct() = default;
  virtual void exec(const char* sql) = 0;
  virtual void insert(const OpRow& r) = 0;
  virtual int select(const std::string& id, OpRow& out) = 0;  // rows found
};

class DirectSqlite : public Direct, private SqliteApi {
 public:
  explicit DirectSqlite(const std::string& path)
      : SqliteApi(path), ins_(prep(kInsertSql)), sel_(prep(kSelectSql)) {}
  void exec(const char* sql) override { SqliteApi::exec(sql); }
  void insert(const OpRow& r) override {
    sqlite3_bind_text(ins_, 1, r.op.data(), static_cast<int>(r.op.size()), SQLITE_STATIC);
    sqlite3_bind_text(ins_, 2, r.id.data(), static_cast<int>(r.id.size()), SQLITE_STATIC);
    sqlite3_bind_text(ins_, 3, r.parent.data(), static_cast<int>(r.parent.size()), SQLITE_STATIC);
    sqlite3_bind_int(ins_, 4, r.time);
    sqlite3_bind_int(ins_, 5, r.status);
    sqlite3_bind_text(ins_, 6, r.session.data(), static_cast<int>(r.session.size()),
                      SQLITE_STATIC);
    if (sqlite3_step(ins_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(handle()));
    sqlite3_reset(ins_);
  }
  int select(const std::string& id, OpRow& out) override {
    sqlite3_bind_text(sel_, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
    int n = 0;
    while (sqlite3_step(sel_) == SQLITE_ROW) {
      auto text = [&](int c) {
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(sel_, c)),
                           sqlite3_column_bytes(sel_, c));
      };
      out.op = text(1);
      out.id = text(2);
      out.parent = text(3);
      out.time = sqlite3_column_int(sel_, 4);
      out.status = sqlite3_column_int(sel_, 5);
      out.session = text(6);
      ++n;
    }
    sqlite3_reset(sel_);
    return n;
  }

 private:
  sqlite3_stmt* ins_;
  sqlite3_stmt* sel_;
};

// Binds on the stack and results into fixed buffers: the cheapest use of the API.
class DirectMaria : public Direct, private MariaApi {
 public:
  explicit DirectMaria(const std::string& database)
      : MariaApi(database, "binary"), ins_(prep(kInsertSql)), sel_(prep(kSelectSql)) {}
  void exec(const char* sql) override { query(sql); }
  void insert(const OpRow& r) override {
    MYSQL_BIND b[6];
    std::memset(b, 0, sizeof b);
    text(b[0], r.op);
    text(b[1], r.id);
    text(b[2], r.parent);
    integer(b[3], r.time);
    integer(b[4], r.status);
    text(b[5], r.session);
    if (mysql_stmt_bind_param(ins_, b) || mysql_stmt_execute(ins_))
      throw std::runtime_error(mysql_stmt_error(ins_));
  }
  int select(const std::string& id, OpRow& out) override {
    MYSQL_BIND p[1];
    std::memset(p, 0, sizeof p);
    text(p[0], id);
    if (mysql_stmt_bind_param(sel_, p) || mysql_stmt_execute(sel_) ||
        mysql_stmt_store_result(sel_))
      throw std::runtime_error(mysql_stmt_error(sel_));
    MYSQL_BIND r[7];
    std::memset(r, 0, sizeof r);
    char bufs[7][256];
    unsigned long lens[7];
    int ints[7];
    for (int i = 0; i < 7; ++i) {
      if (i == 0 || i == 4 || i == 5) {
        r[i].buffer_type = MYSQL_TYPE_LONG;
        r[i].buffer = &ints[i];
      } else {
        r[i].buffer_type = MYSQL_TYPE_BLOB;
        r[i].buffer = bufs[i];
        r[i].buffer_length = sizeof bufs[i];
      }
      r[i].length = &lens[i];
    }
    mysql_stmt_bind_result(sel_, r);
    int n = 0;
    while (mysql_stmt_fetch(sel_) == 0) {
      out.op.assign(bufs[1], lens[1]);
      out.id.assign(bufs[2], lens[2]);
      out.parent.assign(bufs[3], lens[3]);
      out.time = ints[4];
      out.status = ints[5];
      out.session.assign(bufs[6], lens[6]);
      ++n;
    }
    mysql_stmt_free_result(sel_);
    return n;
  }

 private:
  static void text(MYSQL_BIND& b, const std::string& s) {
    b.buffer_type = MYSQL_TYPE_BLOB;
    b.buffer = const_cast<char*>(s.data());
    b.buffer_length = s.size();
  }
  static void integer(MYSQL_BIND& b, const int& v) {
    b.buffer_type = MYSQL_TYPE_LONG;
    b.buffer = const_cast<int*>(&v);
  }
  MYSQL_STMT* ins_;
  MYSQL_STMT* sel_;
};

std::unique_ptr<Direct> direct(const BenchDb& d) {
  if (d.backend == "sqlite") return std::unique_ptr<Direct>(new DirectSqlite(d.sqlitePath));
  return std::unique_ptr<Direct>(new DirectMaria(d.mariaName));
}

// --------------------------------------------------------------------------- the runs

void libInsert(ASSession* s, const OpRow& r) {
  JRX::op_log t;
  t.op = r.op;
  t.id = r.id;
  t.parent_id = r.parent;
  t.time = r.time;
  t.status = r.status;
  t.session_id = r.session;
  s->Insert(t);
}

int libSelect(ASSession* s, const std::string& id, OpRow& out) {
  JRX::op_log t;
  ASCursor c(s);
  c.Project() << t->op_id << t->op << t->id << t->parent_id << t->time << t->status
              << t->session_id;
  c.Set(t->id == id);
  int n = 0;
  while (c.Fetch()) {
    out.op = t.op.Bytes();
    out.id = t.id.Bytes();
    out.parent = t.parent_id.Bytes();
    out.time = static_cast<int>(t.time.Int());
    out.status = static_cast<int>(t.status.Int());
    out.session = t.session_id.Bytes();
    ++n;
  }
  return n;
}

void BM_Insert(benchmark::State& state, std::string backend, bool lib) {
  BenchDb d = createDb(backend);
  {
    auto db = ASDatabase::Open(d.url);
    ASSession* s = db->Session();
    std::unique_ptr<Direct> raw = lib ? nullptr : direct(d);
    OpRow r;
    int i = 0;
    std::unique_ptr<ASTransaction> tr;
    for (auto _ : state) {
      if (i % kBatch == 0) {
        if (lib) {
          if (tr) tr->Commit();
          tr.reset(new ASTransaction(s));
        } else {
          if (i) raw->exec("COMMIT");
          raw->exec(backend == "sqlite" ? "BEGIN IMMEDIATE" : "START TRANSACTION");
        }
      }
      r.id = requestId(i++);
      if (lib)
        libInsert(s, r);
      else
        raw->insert(r);
    }
    if (lib) {
      if (tr) tr->Commit();
    } else if (i) {
      raw->exec("COMMIT");
    }
  }
  countRate(state, "rows/s");
  dropDb(d);
}

void BM_Select(benchmark::State& state, std::string backend, bool lib) {
  BenchDb d = createDb(backend);
  {
    auto db = ASDatabase::Open(d.url);
    ASSession* s = db->Session();
    {
      ASTransaction tr(s);
      OpRow r;
      for (int i = 0; i < kSelectRows; ++i) {
        r.id = requestId(i);
        libInsert(s, r);
      }
      tr.Commit();
    }
    std::unique_ptr<Direct> raw = lib ? nullptr : direct(d);
    OpRow out;
    int i = 0;
    for (auto _ : state) {
      std::string id = requestId(i++ * 13 % kSelectRows);
      int n = lib ? libSelect(s, id, out) : raw->select(id, out);
      if (n != 1) {
        state.SkipWithError("the selected row was not found");
        break;
      }
    }
  }
  countRate(state, "rows/s");
  dropDb(d);
}

}  // namespace

int main(int argc, char** argv) {
  const char* kinds[] = {"insert", "select"};
  for (const std::string& b : backends())
    for (const char* k : kinds)
      for (bool lib : {true, false}) {
        std::string name = std::string(lib ? "query/" : "direct/") + k + "/" + b;
        auto fn = std::string(k) == "insert" ? BM_Insert : BM_Select;
        benchmark::RegisterBenchmark(name.c_str(), fn, b, lib)
            ->MinTime(bySize(0.2, 0.5))
            ->UseRealTime();
      }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("rows/s");
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nquery library rate / direct C API rate:\n");
  for (const std::string& b : backends())
    for (const char* k : kinds) {
      std::string suffix = std::string(k) + "/" + b;
      double lib = 0, raw = 0;
      if (reporter.both("query/" + suffix, "direct/" + suffix, lib, raw))
        std::printf("  %-16s %10.0f vs %10.0f rows/s  ratio %.2f\n", suffix.c_str(), lib, raw,
                    lib / raw);
    }
  benchmark::Shutdown();
  return 0;
}
