// The client conventions of mysql:// URLs on the private server: option files, URL parameters.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ASQuery.h"
#include "TestDb.h"

namespace {

// Fails unless the connection still sends and compares bytes, whatever an option file says.
const char* const kBinaryCheck =
    "BEGIN NOT ATOMIC IF @@character_set_client <> 'binary' THEN "
    "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'client character set is not binary'; "
    "END IF; END";

// Connects and checks the connection; "" when it worked, else the error.
std::string connect(const std::string& url) {
  try {
    ASDatabase::Open(url)->Session()->ExecuteSql(kBinaryCheck);
    return "";
  } catch (const AException& e) {
    return e.what();
  }
}

// A user with a password is made for the test, so that the other tests keep connecting as
// they do; HOME is a folder of the test's own, without a ~/.my.cnf unless a case writes one.
TEST(MariaOptions, PasswordFromUrlEnvironmentOrOptionFiles) {
  const char* server = std::getenv("JRX_TEST_MARIADB_URL");
  if (!server || !*server) GTEST_SKIP() << "no MariaDB server (JRX_TEST_MARIADB_URL)";
  const std::string socket = std::string(server).substr(std::string(server).find("socket=") + 7);
  const std::string user = "jrx_pw_" + std::to_string(getpid());
  auto adminDb = ASDatabase::Open(server);
  ASSession* admin = adminDb->Session();
  admin->ExecuteSql("DROP USER IF EXISTS '" + user + "'@'localhost'");
  admin->ExecuteSql("CREATE USER '" + user + "'@'localhost' IDENTIFIED BY 'pw with \\' and \" and #'");
  admin->ExecuteSql("GRANT ALL ON *.* TO '" + user + "'@'localhost'");
  std::string dir = jrxtest::freshDatabaseUrl("sqlite");  // only for a unique folder name
  dir = dir.substr(dir.find(':') + 1) + ".d";
  ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", dir.c_str(), 1);
  unsetenv("MYSQL_PWD");
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name) << text;
    return dir + "/" + name;
  };
  const std::string quoted = "\"pw with ' and \\\" and #\"";
  struct Case {
    const char* what;
    std::string myCnf;         // ~/.my.cnf
    std::string defaultsFile;  // named with ?defaults-file=
    std::string inUrl;         // the URL's own password, percent-encoded
    bool connects;
  } cases[] = {
      {"no password anywhere", "", "", "", false},
      {"in the URL", "", "", ":pw%20with%20%27%20and%20%22%20and%20%23", true},
      {"[jrxlog] of ~/.my.cnf over a wrong [client] one",
       "[client]\npassword=wrong\n[jrxlog]\npassword=" + quoted + "\n", "", "", true},
      {"another program's group is not ours", "[mysqldump]\npassword=" + quoted + "\n", "", "",
       false},
      {"defaults-file, with its character set ignored", "[client]\npassword=wrong\n",
       "[client]\ndefault-character-set=utf8mb4\n[jrxlog]\npassword=" + quoted + "\n", "", true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink((dir + "/.my.cnf").c_str());
    if (!c.myCnf.empty()) write(".my.cnf", c.myCnf);
    // A database of its own, made by the connection; the port is unused beside a socket.
    const std::string database = "jrxo_" + std::to_string(getpid()) + "_" + std::to_string(++n);
    std::string url = "mysql://" + user + c.inUrl + "@localhost:65535/" + database +
                      "?socket=" + socket + "&connect-timeout=3600&ssl-mode=disabled";
    if (!c.defaultsFile.empty()) url += "&defaults-file=" + write("own.cnf", c.defaultsFile);
    std::string error = connect(url);
    if (c.connects) {
      EXPECT_EQ(error, "");
      admin->ExecuteSql("DROP DATABASE " + database);
    } else {
      EXPECT_NE(error.find("Access denied"), std::string::npos) << error;
    }
  }
  setenv("HOME", home.c_str(), 1);
  admin->ExecuteSql("DROP USER '" + user + "'@'localhost'");
}

}  // namespace
