// A new empty database of one backend per benchmark run, with the log tables, removed again
// afterwards.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

#include "ASQuery.h"
#include "BenchSettings.h"
#include "JRXEnvDirectory.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "store/LogTables.h"

namespace opbench {

struct BenchDb {
  std::string backend;
  std::string url;
  std::string sqlitePath;
  std::string mariaName;
};

// The server's URL with another database name in its path (empty: none).
inline std::string mariaUrl(const std::string& database,
                            const std::string& server = mariaServer()) {
  size_t slash = server.find('/', server.find("://") + 3);
  size_t q = server.find('?', slash);
  return server.substr(0, slash + 1) + database +
         (q == std::string::npos ? "" : server.substr(q));
}

inline BenchDb emptyDb(const std::string& backend) {
  static int counter = 0;
  ++counter;
  const std::string name = "jrxbench_" + std::to_string(getpid()) + "_" + std::to_string(counter);
  BenchDb db;
  db.backend = backend;
  if (backend == "sqlite") {
    db.sqlitePath = "/tmp/" + name + ".sqlite";
    std::remove(db.sqlitePath.c_str());
    db.url = "sqlite:" + db.sqlitePath;
  } else {
    db.mariaName = name;
    auto admin = ASDatabase::Open(mariaUrl(""));
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + db.mariaName);
    admin->Session()->ExecuteSql("CREATE DATABASE " + db.mariaName);
    db.url = mariaUrl(db.mariaName);
  }
  return db;
}

// A new database with the log tables made through a connection of its own; the process's
// database stays as it was.
inline BenchDb createDb(const std::string& backend) {
  BenchDb db = emptyDb(backend);
  JRX::createLogTables(ASDatabase::Open(db.url)->Session());
  return db;
}

// A new database opened as the process's database, `local` as the local node.
inline BenchDb freshDb(const std::string& backend, const JRX::JRXEID& local) {
  BenchDb db = emptyDb(backend);
  JRX::JRXDatabase::open(db.url);
  JRX::JRXConfiguration::setLocalEID(local);
  JRX::JRXEnvDirectory::put(local, "node", "local-node");
  JRX::createLogTables();
  return db;
}

inline void dropDb(const BenchDb& db) {
  if (JRX::JRXDatabase::isOpen()) JRX::JRXDatabase::close();
  if (db.backend == "sqlite") {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      std::remove((db.sqlitePath + suffix).c_str());
  } else {
    auto admin = ASDatabase::Open(mariaUrl(""));
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + db.mariaName);
  }
}

}  // namespace opbench
