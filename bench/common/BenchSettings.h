// What a benchmark run is asked for through the environment: SQLite always, MariaDB when
// JRX_BENCH_MARIADB_URL or JRX_TEST_MARIADB_URL names a server
// (mysql://root@localhost/?socket=/path/mysqld.sock); JRX_BENCH_SMALL=1 for a quick run;
// JRX_BENCH_ITERATIONS=N runs every case exactly N times instead of for a time, so that two
// builds profiled with an instruction counter do the same work.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace opbench {

inline bool small() {
  const char* s = std::getenv("JRX_BENCH_SMALL");
  return s && *s && std::string(s) != "0";
}

// The quick run's values or the full run's.
template <class T>
T bySize(T quick, T full) {
  return small() ? quick : full;
}

// A case for its minimum time, or for the iterations asked for.
template <class B>
B* paced(B* b, double minTime) {
  const char* n = std::getenv("JRX_BENCH_ITERATIONS");
  if (n && std::atol(n) > 0) return b->Iterations(std::atol(n));
  return b->MinTime(minTime);
}

inline const char* mariaServer() {
  for (const char* name : {"JRX_BENCH_MARIADB_URL", "JRX_TEST_MARIADB_URL"}) {
    const char* u = std::getenv(name);
    if (u && *u) return u;
  }
  return nullptr;
}

inline std::vector<std::string> backends() {
  std::vector<std::string> b{"sqlite"};
  if (mariaServer()) b.push_back("mariadb");
  return b;
}

}  // namespace opbench
