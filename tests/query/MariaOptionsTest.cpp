// The MySQL client conventions of mysql:// URLs: option files, MYSQL_PWD, URL parameters.
// Needs the private server; a user with a password is made for the test, so that the
// other tests keep connecting as they do.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ASQuery.h"
#include "TestDb.h"

namespace {

const char* const kPassword = "pw with ' and \" and #";

// Fails unless the connection still sends and compares bytes, whatever an option file says.
const char* const kBinaryCheck =
    "BEGIN NOT ATOMIC IF @@character_set_client <> 'binary' THEN "
    "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'client character set is not binary'; "
    "END IF; END";

class MariaOptions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* server = std::getenv("JRX_TEST_MARIADB_URL");
    if (!server || !*server) return;
    std::string s = server;
    socket_ = s.substr(s.find("socket=") + 7);
    user_ = "jrx_pw_" + std::to_string(getpid());
    auto admin = ASDatabase::Open(s);
    admin->Session()->ExecuteSql("DROP USER IF EXISTS '" + user_ + "'@'localhost'");
    admin->Session()->ExecuteSql("CREATE USER '" + user_ + "'@'localhost' IDENTIFIED BY 'pw with \\' and \" and #'");
    admin->Session()->ExecuteSql("GRANT ALL ON *.* TO '" + user_ + "'@'localhost'");
  }
  static void TearDownTestSuite() {
    if (user_.empty()) return;
    ASDatabase::Open(std::getenv("JRX_TEST_MARIADB_URL"))
        ->Session()
        ->ExecuteSql("DROP USER IF EXISTS '" + user_ + "'@'localhost'");
  }
  void SetUp() override {
    if (user_.empty()) GTEST_SKIP() << "no MariaDB server (JRX_TEST_MARIADB_URL)";
    dir_ = jrxtest::freshDatabaseUrl("sqlite");  // only for a unique folder name
    dir_ = dir_.substr(dir_.find(':') + 1) + ".d";
    ASSERT_EQ(system(("mkdir -p '" + dir_ + "'").c_str()), 0);
    for (const char* v : {"MYSQL_PWD", "HOME"}) {
      const char* old = std::getenv(v);
      saved_.emplace_back(v, old ? old : "");
    }
    setenv("HOME", dir_.c_str(), 1);  // no ~/.my.cnf unless a case writes one
    unsetenv("MYSQL_PWD");
  }
  void TearDown() override {
    for (const auto& v : saved_) {
      if (v.second.empty())
        unsetenv(v.first.c_str());
      else
        setenv(v.first.c_str(), v.second.c_str(), 1);
    }
  }
  std::string write(const std::string& name, const std::string& text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  // Connects and checks the connection; "" when it worked, else the error.
  static std::string connect(const std::string& url) {
    try {
      ASDatabase::Open(url)->Session()->ExecuteSql(kBinaryCheck);
      return "";
    } catch (const AException& e) {
      return e.what();
    }
  }

  static std::string socket_, user_;
  std::string dir_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

std::string MariaOptions::socket_, MariaOptions::user_;

TEST_F(MariaOptions, PasswordFromUrlEnvironmentOrOptionFiles) {
  const std::string quoted = "\"pw with ' and \\\" and #\"";
  struct Case {
    const char* what;
    std::string mysqlPwd;
    std::string myCnf;         // ~/.my.cnf
    std::string defaultsFile;  // named with ?defaults-file=
    std::string inUrl;         // the URL's own password, percent-encoded
    bool connects;
  } cases[] = {
      {"no password anywhere", "", "", "", "", false},
      {"in the URL", "", "", "", ":pw%20with%20%27%20and%20%22%20and%20%23", true},
      {"MYSQL_PWD", kPassword, "", "", "", true},
      {"[client] of ~/.my.cnf", "", "[client]\npassword=" + quoted + "\n", "", "", true},
      {"[jrxlog] of ~/.my.cnf over a wrong [client] one", "",
       "[client]\npassword=wrong\n[jrxlog]\npassword=" + quoted + "\n", "", "", true},
      {"another program's group is not ours", "", "[mysqldump]\npassword=" + quoted + "\n", "",
       "", false},
      {"defaults-file, with its character set ignored", "", "[client]\npassword=wrong\n",
       "[client]\ndefault-character-set=utf8mb4\n[jrxlog]\npassword=" + quoted + "\n", "", true},
      {"an option file's password comes before MYSQL_PWD", kPassword,
       "[jrxlog]\npassword=wrong\n", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink((dir_ + "/.my.cnf").c_str());
    if (!c.myCnf.empty()) write(".my.cnf", c.myCnf);
    if (c.mysqlPwd.empty())
      unsetenv("MYSQL_PWD");
    else
      setenv("MYSQL_PWD", c.mysqlPwd.c_str(), 1);
    std::string url = "mysql://" + user_ + c.inUrl + "@localhost/?socket=" + socket_ +
                      "&connect-timeout=5&ssl-mode=disabled";
    if (!c.defaultsFile.empty()) url += "&defaults-file=" + write("own.cnf", c.defaultsFile);
    std::string error = connect(url);
    if (c.connects)
      EXPECT_EQ(error, "");
    else
      EXPECT_NE(error.find("Access denied"), std::string::npos) << error;
  }
  // User and socket may come from the option file too.
  std::string file = write("all.cnf", "[client]\nuser=" + user_ + "\nsocket=" + socket_ +
                                          "\n[jrxlog]\npassword=" + quoted + "\n");
  EXPECT_EQ(connect("mysql:///?defaults-file=" + file), "");
}

}  // namespace
