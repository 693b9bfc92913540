#include "TestDb.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "ASQuery.h"

namespace jrxtest {

namespace {

std::string serverUrl() {
  const char* u = std::getenv("JRX_TEST_MARIADB_URL");
  return u ? u : "";
}

std::string tempFolder() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/jrx-test-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) throw std::runtime_error("cannot make a temporary folder");
    return std::string(d);
  }();
  return dir;
}

std::atomic<int> counter{0};

}  // namespace

std::vector<std::string> backends() {
  std::vector<std::string> b{"sqlite"};
  if (!serverUrl().empty()) b.push_back("mariadb");
  return b;
}

std::string freshDatabaseUrl(const std::string& backend) {
  int n = ++counter;
  if (backend == "sqlite")
    return "sqlite:" + tempFolder() + "/db" + std::to_string(n) + ".sqlite";
  // mysql://root@localhost/?socket=... -> mysql://root@localhost/<name>?socket=...
  std::string server = serverUrl();
  std::string name = "jrxt_" + std::to_string(getpid()) + "_" + std::to_string(n);
  auto slash = server.find('/', server.find("://") + 3);
  if (slash == std::string::npos) throw std::runtime_error("bad JRX_TEST_MARIADB_URL");
  auto rest = server.find('?', slash);
  std::string query = rest == std::string::npos ? "" : server.substr(rest);
  std::string base = server.substr(0, slash + 1);
  {
    auto admin = ASDatabase::Open(base + query);
    admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + name);
    admin->Session()->ExecuteSql("CREATE DATABASE " + name);
  }
  return base + name + query;
}

}  // namespace jrxtest
