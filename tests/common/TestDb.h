// Databases for tests: every database test runs on SQLite and, when JRX_TEST_MARIADB_URL
// names a server (mysql://root@localhost/?socket=...), on MariaDB too.
#pragma once

#include <string>
#include <vector>

namespace jrxtest {

// "sqlite", and "mariadb" when a server is configured.
std::vector<std::string> backends();

// The URL of a new, empty database of that backend, unique to this call: a file in a
// temporary folder for SQLite, a freshly created database on the server for MariaDB.
std::string freshDatabaseUrl(const std::string& backend);

// The client URLs of the nodes of a multi-primary cluster (JRX_TEST_CLUSTER_URLS, separated
// by spaces, as scripts/galera.sh prints them), empty when none is configured.
std::vector<std::string> clusterNodeUrls();

// A new, empty database created through the cluster's first node, as one URL per node.
std::vector<std::string> freshClusterDatabaseUrls();

// gtest parameter names.
struct BackendName {
  template <class P>
  std::string operator()(const P& info) const { return info.param; }
};

}  // namespace jrxtest
