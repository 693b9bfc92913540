// The query library against the same statements written directly on each driver's C API:
// single-row inserts into op_log (committed every 500 rows) and selects of one operation by
// its indexed request identifier. SQLite always; MariaDB when JRX_BENCH_MARIADB_URL or
// JRX_TEST_MARIADB_URL names a server (mysql://root@localhost/?socket=/path/mysqld.sock).
// The ratio lines at the end give library rate / direct rate.
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

#include "ASQuery.h"
#include "store/LogTables.h"

namespace {

const int kBatch = 500;        // rows per transaction in the insert runs
const int kSelectRows = 20000;  // rows the select runs pick from

const char* serverUrl() {
  const char* u = std::getenv("JRX_BENCH_MARIADB_URL");
  if (!u || !*u) u = std::getenv("JRX_TEST_MARIADB_URL");
  return u && *u ? u : nullptr;
}

struct Target {
  std::string user, password, host, db, socket;
  unsigned port = 0;
};

// Just enough of the URL for the direct connection.
Target parseServer(const std::string& url) {
  Target t;
  std::string rest = url.substr(url.find("://") + 3);
  auto q = rest.find('?');
  if (q != std::string::npos) {
    std::string p = rest.substr(q + 1);
    if (p.compare(0, 7, "socket=") == 0) t.socket = p.substr(7);
    rest = rest.substr(0, q);
  }
  auto at = rest.rfind('@');
  std::string cred = rest.substr(0, at);
  rest = rest.substr(at + 1);
  auto colon = cred.find(':');
  t.user = cred.substr(0, colon);
  if (colon != std::string::npos) t.password = cred.substr(colon + 1);
  auto slash = rest.find('/');
  std::string hp = rest.substr(0, slash);
  t.db = rest.substr(slash + 1);
  auto pc = hp.find(':');
  if (pc != std::string::npos) {
    t.port = static_cast<unsigned>(std::stoul(hp.substr(pc + 1)));
    hp = hp.substr(0, pc);
  }
  t.host = hp;
  return t;
}

// A fresh database with the log tables; `url` for the library, the rest for the direct API.
struct BenchDb {
  std::string backend, url, path;
  Target server;
};

BenchDb freshDb(const std::string& backend) {
  static int n = 0;
  ++n;
  BenchDb d;
  d.backend = backend;
  std::string name = "jrxqbench_" + std::to_string(getpid()) + "_" + std::to_string(n);
  if (backend == "sqlite") {
    d.path = "/tmp/" + name + ".sqlite";
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((d.path + ext).c_str());
    d.url = "sqlite:" + d.path;
  } else {
    std::string server = serverUrl();
    size_t slash = server.find('/', server.find("://") + 3);
    size_t q = server.find('?', slash);
    std::string query = q == std::string::npos ? "" : server.substr(q);
    d.url = server.substr(0, slash + 1) + name + query;
    d.server = parseServer(d.url);
  }
  auto db = ASDatabase::Open(d.url);
  JRX::createLogTables(db->Session());
  return d;
}

void dropDb(const BenchDb& d) {
  if (d.backend == "sqlite") {
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((d.path + ext).c_str());
  } else {
    std::string server = serverUrl();
    size_t slash = server.find('/', server.find("://") + 3);
    size_t q = server.find('?', slash);
    auto admin = ASDatabase::Open(server.substr(0, slash + 1) +
                                  (q == std::string::npos ? "" : server.substr(q)));
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + d.server.db);
  }
}

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

class DirectSqlite : public Direct {
 public:
  explicit DirectSqlite(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path);
    sqlite3_busy_timeout(db_, 10000);
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
    sqlite3_prepare_v2(db_, kInsertSql, -1, &ins_, nullptr);
    sqlite3_prepare_v2(db_, kSelectSql, -1, &sel_, nullptr);
  }
  ~DirectSqlite() override {
    sqlite3_finalize(ins_);
    sqlite3_finalize(sel_);
    sqlite3_close(db_);
  }
  void exec(const char* sql) override {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
  }
  void insert(const OpRow& r) override {
    sqlite3_bind_text(ins_, 1, r.op.data(), static_cast<int>(r.op.size()), SQLITE_STATIC);
    sqlite3_bind_text(ins_, 2, r.id.data(), static_cast<int>(r.id.size()), SQLITE_STATIC);
    sqlite3_bind_text(ins_, 3, r.parent.data(), static_cast<int>(r.parent.size()), SQLITE_STATIC);
    sqlite3_bind_int(ins_, 4, r.time);
    sqlite3_bind_int(ins_, 5, r.status);
    sqlite3_bind_text(ins_, 6, r.session.data(), static_cast<int>(r.session.size()),
                      SQLITE_STATIC);
    if (sqlite3_step(ins_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
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
  sqlite3* db_ = nullptr;
  sqlite3_stmt* ins_ = nullptr;
  sqlite3_stmt* sel_ = nullptr;
};

class DirectMaria : public Direct {
 public:
  explicit DirectMaria(const Target& t) {
    db_ = mysql_init(nullptr);
    mysql_options(db_, MYSQL_SET_CHARSET_NAME, "binary");
    if (!mysql_real_connect(db_, t.host.c_str(), t.user.c_str(),
                            t.password.empty() ? nullptr : t.password.c_str(), t.db.c_str(),
                            t.port, t.socket.empty() ? nullptr : t.socket.c_str(), 0))
      throw std::runtime_error(mysql_error(db_));
    ins_ = prepare(kInsertSql);
    sel_ = prepare(kSelectSql);
  }
  ~DirectMaria() override {
    mysql_stmt_close(ins_);
    mysql_stmt_close(sel_);
    mysql_close(db_);
  }
  void exec(const char* sql) override {
    if (mysql_query(db_, sql)) throw std::runtime_error(mysql_error(db_));
  }
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
  MYSQL_STMT* prepare(const char* sql) {
    MYSQL_STMT* s = mysql_stmt_init(db_);
    if (mysql_stmt_prepare(s, sql, std::strlen(sql))) throw std::runtime_error(mysql_stmt_error(s));
    return s;
  }
  static void text(MYSQL_BIND& b, const std::string& s) {
    b.buffer_type = MYSQL_TYPE_BLOB;
    b.buffer = const_cast<char*>(s.data());
    b.buffer_length = s.size();
  }
  static void integer(MYSQL_BIND& b, const int& v) {
    b.buffer_type = MYSQL_TYPE_LONG;
    b.buffer = const_cast<int*>(&v);
  }
  MYSQL* db_ = nullptr;
  MYSQL_STMT* ins_ = nullptr;
  MYSQL_STMT* sel_ = nullptr;
};

std::unique_ptr<Direct> direct(const BenchDb& d) {
  if (d.backend == "sqlite") return std::unique_ptr<Direct>(new DirectSqlite(d.path));
  return std::unique_ptr<Direct>(new DirectMaria(d.server));
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

void rate(benchmark::State& state) {
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Insert(benchmark::State& state, std::string backend, bool lib) {
  BenchDb d = freshDb(backend);
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
  rate(state);
  dropDb(d);
}

void BM_Select(benchmark::State& state, std::string backend, bool lib) {
  BenchDb d = freshDb(backend);
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
  rate(state);
  dropDb(d);
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("rows/s");
      std::string name = r.benchmark_name();
      auto suffix = name.find("/real_time");
      if (suffix != std::string::npos) name.erase(suffix);
      if (!r.error_occurred && it != r.counters.end()) rates[name] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> backends{"sqlite"};
  if (serverUrl()) backends.push_back("mariadb");
  const char* kinds[] = {"insert", "select"};
  for (const std::string& b : backends)
    for (const char* k : kinds)
      for (bool lib : {true, false}) {
        std::string name = std::string(lib ? "query/" : "direct/") + k + "/" + b;
        auto fn = std::string(k) == "insert" ? BM_Insert : BM_Select;
        benchmark::RegisterBenchmark(name.c_str(), fn, b, lib)->UseRealTime();
      }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nquery library rate / direct C API rate:\n");
  for (const std::string& b : backends)
    for (const char* k : kinds) {
      std::string suffix = std::string(k) + "/" + b;
      auto lib = reporter.rates.find("query/" + suffix);
      auto raw = reporter.rates.find("direct/" + suffix);
      if (lib == reporter.rates.end() || raw == reporter.rates.end() || raw->second <= 0) continue;
      std::printf("  %-16s %10.0f vs %10.0f rows/s  ratio %.2f\n", suffix.c_str(), lib->second,
                  raw->second, lib->second / raw->second);
    }
  return 0;
}
