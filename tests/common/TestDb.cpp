#include "TestDb.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "ASQuery.h"

namespace jrxtest {

namespace {

std::string serverUrl() {
  const char* u = std::getenv("JRX_TEST_MARIADB_URL");
  return u ? u : "";
}

// What this process made goes when its tests end: repeated runs would otherwise fill the disk.
class Made : public ::testing::Environment {
 public:
  static Made& of() {
    static Made* made = static_cast<Made*>(::testing::AddGlobalTestEnvironment(new Made));
    return *made;
  }
  // A database `name` on the server of `adminUrl`; with no URL, a folder.
  void add(const std::string& adminUrl, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    made_.emplace_back(adminUrl, name);
  }
  void TearDown() override {
    std::string opened;
    std::shared_ptr<ASDatabase> db;
    std::error_code ignored;
    for (const auto& [admin, name] : made_) {
      if (admin.empty()) {
        std::filesystem::remove_all(name, ignored);
        continue;
      }
      try {
        if (!db || admin != opened) {
          db = ASDatabase::Open(admin);
          opened = admin;
          db->Session()->ExecuteSql("SET SESSION lock_wait_timeout = 10");
        }
        db->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + name);
      } catch (const std::exception&) {
        db.reset();  // left for the server's owner, as before
      }
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> made_;
};

std::string tempFolder() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/jrx-test-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) throw std::runtime_error("cannot make a temporary folder");
    Made::of().add("", d);
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
  Made::of().add(withDatabase(server, ""), name);
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
