#include "TestDb.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <sstream>
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

// mysql://root@localhost/?socket=... -> mysql://root@localhost/<name>?socket=...
std::string withDatabase(const std::string& server, const std::string& name) {
  auto slash = server.find('/', server.find("://") + 3);
  if (slash == std::string::npos) throw std::runtime_error("bad server URL " + server);
  auto rest = server.find('?', slash);
  std::string query = rest == std::string::npos ? "" : server.substr(rest);
  return server.substr(0, slash + 1) + name + query;
}

// A new database on the server (or cluster) of `server`, returning its name.
std::string createDatabase(const std::string& server) {
  std::string name = "jrxt_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  auto admin = ASDatabase::Open(withDatabase(server, ""));
  admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + name);
  admin->Session()->ExecuteSql("CREATE DATABASE " + name);
  return name;
}

}  // namespace

std::vector<std::string> backends() {
  std::vector<std::string> b{"sqlite"};
  if (!serverUrl().empty()) b.push_back("mariadb");
  return b;
}

std::string freshDatabaseUrl(const std::string& backend) {
  if (backend == "sqlite")
    return "sqlite:" + tempFolder() + "/db" + std::to_string(++counter) + ".sqlite";
  return withDatabase(serverUrl(), createDatabase(serverUrl()));
}

std::vector<std::string> clusterNodeUrls() {
  const char* u = std::getenv("JRX_TEST_CLUSTER_URLS");
  std::istringstream in(u ? u : "");
  std::vector<std::string> urls;
  for (std::string url; in >> url;) urls.push_back(url);
  return urls;
}

std::vector<std::string> freshClusterDatabaseUrls() {
  std::vector<std::string> nodes = clusterNodeUrls();
  if (nodes.empty()) throw std::runtime_error("no cluster: JRX_TEST_CLUSTER_URLS is not set");
  std::string name = createDatabase(nodes[0]);
  for (auto& node : nodes) node = withDatabase(node, name);
  return nodes;
}

}  // namespace jrxtest
