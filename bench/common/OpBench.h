// Shared by the operation-log benchmarks: fresh databases of each backend, filling the
// operation tables fast (multi-row INSERTs in large transactions, keys given explicitly so
// that links need no read-back), and the process's peak memory.
//
// SQLite always; MariaDB when JRX_TEST_MARIADB_URL names a server. JRX_BENCH_SMALL=1 asks
// for a quick run on smaller tables.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXEnvDirectory.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"

namespace opbench {

inline bool small() {
  const char* s = std::getenv("JRX_BENCH_SMALL");
  return s && *s && std::string(s) != "0";
}

inline const char* mariaServer() { return std::getenv("JRX_TEST_MARIADB_URL"); }

inline std::vector<std::string> backends() {
  std::vector<std::string> b{"sqlite"};
  if (mariaServer() && *mariaServer()) b.push_back("mariadb");
  return b;
}

struct BenchDb {
  std::string backend;
  std::string url;
  std::string sqlitePath;
  std::string mariaName;
};

inline std::string mariaAdminUrl() {
  std::string server = mariaServer();
  size_t slash = server.find('/', server.find("://") + 3);
  size_t q = server.find('?', slash);
  return server.substr(0, slash + 1) + (q == std::string::npos ? "" : server.substr(q));
}

// Opens a new empty database of the backend as the process's database, with the log tables.
inline BenchDb freshDb(const std::string& backend, const JRX::JRXEID& local) {
  static int counter = 0;
  ++counter;
  BenchDb db;
  db.backend = backend;
  if (backend == "sqlite") {
    db.sqlitePath = "/tmp/jrx-opbench-" + std::to_string(getpid()) + "-" +
                    std::to_string(counter) + ".sqlite";
    std::remove(db.sqlitePath.c_str());
    db.url = "sqlite:" + db.sqlitePath;
  } else {
    std::string server = mariaServer();
    size_t slash = server.find('/', server.find("://") + 3);
    size_t q = server.find('?', slash);
    db.mariaName = "jrxopbench_" + std::to_string(getpid()) + "_" + std::to_string(counter);
    auto admin = ASDatabase::Open(mariaAdminUrl());
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + db.mariaName);
    admin->Session()->ExecuteSql("CREATE DATABASE " + db.mariaName);
    db.url = server.substr(0, slash + 1) + db.mariaName +
             (q == std::string::npos ? "" : server.substr(q));
  }
  JRX::JRXDatabase::open(db.url);
  JRX::JRXConfiguration::setLocalEID(local);
  JRX::JRXEnvDirectory::put(local, "node", "local-node");
  JRX::createLogTables();
  return db;
}

inline void dropDb(const BenchDb& db) {
  JRX::JRXDatabase::close();
  if (db.backend == "sqlite") {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      std::remove((db.sqlitePath + suffix).c_str());
  } else {
    auto admin = ASDatabase::Open(mariaAdminUrl());
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + db.mariaName);
  }
}

inline std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out = "X'";
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out + "'";
}

inline std::string guidLiteral(const JRX::JRXEID& eid) {
  return hex(JRX::guidToRDBMSGuid(eid).Bytes());
}

// The stored form of a progress text: the information record's text and its NUL.
inline std::string infoLiteral(const std::string& text) {
  std::string stored;
  JRX::JRXInfo(text).serializeToString(stored);
  stored.push_back('\0');
  return hex(stored);
}

// Collects rows of one table into multi-row INSERT statements; the same text runs on both
// databases. Rows are committed every `perTransaction` rows.
class TableFill {
 public:
  TableFill(const std::string& table, const std::string& columns, size_t perStatement = 2000,
            size_t perTransaction = 200000)
      : head_("INSERT INTO " + table + " (" + columns + ") VALUES "),
        perStatement_(perStatement),
        perTransaction_(perTransaction) {}
  ~TableFill() { flush(); }

  void row(const std::string& values) {
    if (inStatement_ == 0) {
      sql_ = head_;
    } else {
      sql_ += ",";
    }
    sql_ += "(" + values + ")";
    if (++inStatement_ == perStatement_) execute();
  }

  void flush() {
    if (inStatement_) execute();
    if (tran_) {
      tran_->commit();
      tran_.reset();
    }
    inTransaction_ = 0;
  }

 private:
  void execute() {
    if (!tran_) tran_.reset(new JRX::JRXRdbmsTran());
    (**tran_)->ExecuteSql(sql_);
    inTransaction_ += inStatement_;
    inStatement_ = 0;
    sql_.clear();
    if (inTransaction_ >= perTransaction_) {
      tran_->commit();
      tran_.reset();
      inTransaction_ = 0;
    }
  }

  std::string head_;
  size_t perStatement_;
  size_t perTransaction_;
  std::string sql_;
  size_t inStatement_ = 0;
  size_t inTransaction_ = 0;
  std::unique_ptr<JRX::JRXRdbmsTran> tran_;
};

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Resident memory of the process, from /proc (kB): the current size and the peak since the
// last resetPeak().
inline long procStatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  return -1;
}
inline long rssKb() { return procStatusKb("VmRSS"); }
inline long peakKb() { return procStatusKb("VmHWM"); }
// Starts a new peak at the current size (Linux: writing 5 to clear_refs resets VmHWM).
inline bool resetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace opbench
