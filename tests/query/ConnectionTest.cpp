// Connections: URLs and client options, failures as AException with the database's own
// text and what they mean to the caller, lost connections replaced.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "ASFaults.h"
#include "QueryFixture.h"

namespace {

using Errors = QueryTest;

TEST_P(Errors, DatabaseFailuresCarryTheirMessageAndKind) {
  AException e = caught([&] { s->ExecuteSql("SELEC nothing FROM nowhere"); });
  EXPECT_THAT(e.Text().str(), HasSubstr("syntax"));
  EXPECT_TRUE(e.Code() != 0 && e.Kind() == AS_ERROR_OTHER && !e.Transient());

  ASTransaction tr(s);
  coded k;
  k.code = "k1";
  k.text = std::string(300, 'x');
  s->Insert(k);
  EXPECT_EQ(caught([&] { s->Insert(k); }).Kind(), AS_ERROR_DUPLICATE_KEY);
  k.code = "k2";  // the same long text: unique as a whole
  EXPECT_FALSE(s->InsertNew(k));
  k.text = std::string(299, 'x') + "y";  // differs only beyond any index prefix
  EXPECT_TRUE(s->InsertNew(k));
  k.code = "123456789";  // one byte over the code's width: refused before it is sent
  EXPECT_THAT(caught([&] { s->Insert(k); }).what(), HasSubstr("longer than its width"));
  k.code = "12345678";
  k.text = "at its width";
  EXPECT_TRUE(s->InsertNew(k));
  // A row may come to AS_MAX_ROW_BYTES, a number counting 8 bytes; one byte more is refused.
  tag big;
  big.item_id = 1;
  big.label = std::string(AS_MAX_ROW_BYTES - 8, 'x');
  s->Insert(big);
  big.label = std::string(AS_MAX_ROW_BYTES - 7, 'x');
  EXPECT_THAT(caught([&] { s->Insert(big); }).what(), HasSubstr("larger than the limit"));
  // A writer behind another's write transaction waits for its end, and gives up, busy, when
  // it does not come within a while (on SQLite ten seconds).
  auto other = ASDatabase::Open(url);
  if (GetParam() != "sqlite")
    other->Session()->ExecuteSql("SET SESSION innodb_lock_wait_timeout = 1");
  const auto remove = [&](const char* code) {
    return ASDeleter(k).Where(k->code == code).Execute(other->Session());
  };
  EXPECT_EQ(caught([&] { remove("k1"); }).Kind(), AS_ERROR_CONFLICT);
  std::thread waiting([&] { EXPECT_STREQ(caught([&] { remove("k1"); }).what(), "none"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  tr.Commit();
  waiting.join();
  // Outside a transaction a refused insert holds nothing that another writer would wait for.
  k.code = "k2";
  EXPECT_EQ(caught([&] { s->Insert(k); }).Kind(), AS_ERROR_DUPLICATE_KEY);
  EXPECT_EQ(remove("k2"), 1);
  EXPECT_EQ(valuesOf(s, k->code), Rows{"12345678"});

  if (GetParam() != "sqlite") {  // a failure after a result
    s->ExecuteSql(
        "CREATE PROCEDURE qt_late() BEGIN SELECT 1; "
        "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'late'; END");
    EXPECT_STREQ(caught([&] { s->ExecuteSql("CALL qt_late()"); }).what(), "late");
  }
}

TEST_P(Errors, LostConnectionRollsBackAndReconnects) {
  ASFaults::Clear();
  auto fdb = ASDatabase::Open("fault:" + url);
  ASSession* fs = fdb->Session();
  for (int i = 0; i < 3; ++i) {  // prepared once per connection, whatever objects built it
    tag g;
    fs->Insert(g);
  }
  EXPECT_EQ(ASFaults::StatementsPrepared(), 1);
  item q;
  {
    ASTransaction tr(fs);
    q.name = "lost";
    fs->Insert(q);
    ASFaults::DropConnection(1, "COMMIT");
    AException e = caught([&] { tr.Commit(); });
    EXPECT_TRUE(e.ConnectionLost() && e.Transient()) << e.what();
    // Later statements of the dead transaction fail too, instead of running outside it.
    EXPECT_TRUE(caught([&] { fs->Insert(q); }).ConnectionLost());
  }
  // On a fresh connection, a statement outside a transaction stands alone again.
  q.name = "alone";
  fs->Insert(q);
  {
    ASTransaction tr(fs);
    q.name = "again";
    fs->Insert(q);
    tr.Commit();
  }
  fdb->DropSession();
  EXPECT_EQ(valuesOf(fdb->Session(), q->name), (Rows{"alone", "again"}));
  ASFaults::Clear();
  if (GetParam() == "sqlite") return;
  // The server ending the connection itself, inside a transaction and outside one.
  for (bool inTransaction : {true, false}) {
    ASTransaction tr(s);
    if (!inTransaction) tr.Commit();
    q.name = "killed";
    s->Insert(q);
    AException e = caught([&] { s->ExecuteSql("KILL CONNECTION CONNECTION_ID()"); });
    EXPECT_TRUE(e.ConnectionLost() && e.Transient()) << e.what();
    EXPECT_TRUE(!inTransaction || caught([&] { tr.Commit(); }).ConnectionLost());
  }
  EXPECT_EQ(valuesOf(s, q->name), (Rows{"alone", "again", "killed"}));
}

QUERY_TEST_SUITE(Errors);

TEST(DatabaseUrls, BadOnesAreRefusedWithTheReason) {
  const char* cases[][2] = {
      {"nosuch:thing", "unknown scheme 'nosuch'"}, {"noscheme", "has no scheme"},
      {":memory:", "has no scheme"}, {"sqlite:", "names no SQLite file"},
      {"sqlite:/nonexistent/folder/x.db", "cannot open"}, {"fault:", "must wrap"},
      {"fault:fault:sqlite::memory:", "must wrap"}, {"mysql:/h/db", "does not start with mysql://"},
      {"mysql://nouser", "names no database"}, {"mysql://@h/db", "empty user"},
      {"mysql://u@h:99999/db", "bad port"}, {"mysql://u@h/d.b", "database name"},
      {"mysql://u@h/db?ssl-mode=SOMETIMES", "ssl-mode"},
      {"mysql://u@h/db?connect-timeout=0", "connect-timeout"},
      {"mysql://u@h/db?connect-timeout=3601", "connect-timeout"},
      {"mysql://u@h/db?socket=/s&sslmode=REQUIRED", "unknown parameter 'sslmode'"},
      {"mysql://u@h/db?defaults-file=/nonexistent/my.cnf", "cannot be read"},
      {"mysql://u@h/db?ssl-mode=required&ssl-ca=/nonexistent/ca.pem", "cannot be read"},
      {"mysql://u@h/db?ssl-cert=/nonexistent/c.pem", "cannot be read"},
      {"mysql://u@h/db?ssl-key=/nonexistent/k.pem", "cannot be read"}};
  for (const auto& c : cases) {
    const AException e = caught([&] { ASDatabase::Open(c[0]); });
    EXPECT_TRUE(std::string(e.what()).find(c[1]) != std::string::npos && !e.ConnectionLost())
        << c[0] << ": " << e.what();
  }
  // Unlike a bad URL, a server that is not there (yet) is worth trying again.
  const AException down = caught([] {
    ASDatabase::Open("mysql://u@localhost/db?socket=/nonexistent/mysqld.sock")->Session();
  });
  EXPECT_TRUE(down.ConnectionLost() && down.Code() != 0) << down.what();
}

// A statement that fails with `message` where `condition` holds.
std::string failIf(const std::string& condition, const std::string& message) {
  return "BEGIN NOT ATOMIC IF " + condition + " THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = '" +
         message + "'; END IF; END";
}

// "none" when `sql` runs on a new connection to `url`, else the error.
std::string run(const std::string& url, const std::string& sql) {
  return caught([&] { ASDatabase::Open(url)->Session()->ExecuteSql(sql); }).what();
}

// A user with a password is made for the test, so that the other tests keep connecting as
// they do. Each connection makes a database of its own; the port is unused beside a socket.
TEST(MariaOptions, PasswordFromTheUrlOrOurGroupOfAnOptionFile) {
  const char* server = std::getenv("JRX_TEST_MARIADB_URL");
  if (!server || !*server) GTEST_SKIP() << "no MariaDB server (JRX_TEST_MARIADB_URL)";
  const std::string socket = std::string(server).substr(std::string(server).find("socket=") + 7);
  const std::string user = "jrx_pw_" + std::to_string(getpid());
  const std::string database = "jrxo_" + std::to_string(getpid());
  auto adminDb = ASDatabase::Open(server);
  ASSession* admin = adminDb->Session();
  // Connects as the user with the password, on a connection that sends bytes as they are;
  // "none" when that works, else the error.
  const auto connect = [&](const std::string& password, const std::string& url) {
    admin->ExecuteSql("DROP DATABASE IF EXISTS " + database);
    admin->ExecuteSql("DROP USER IF EXISTS '" + user + "'@'localhost'");
    admin->ExecuteSql("CREATE USER '" + user + "'@'localhost' IDENTIFIED BY '" + password + "'");
    admin->ExecuteSql("GRANT ALL ON *.* TO '" + user + "'@'localhost'");
    return run("mysql://" + user + url,
               failIf("@@character_set_client <> 'binary'", "client character set is not binary"));
  };
  unsetenv("MYSQL_PWD");
  const std::string cnf = jrxtest::freshDatabaseUrl("sqlite").substr(7) + ".cnf";
  std::ofstream(cnf) << "[client]\ndefault-character-set=utf8mb4\npassword=wrong\n"
                        "[jrxlog]\npassword=\"pw with ' and \\\" and #\"\n";
  const std::string password = "pw with \\' and \" and #";
  const std::string url = "@localhost:65535/" + database + "?socket=" + socket +
                          "&connect-timeout=3600&ssl-mode=disabled";
  EXPECT_EQ(connect(password, ":pw%20with%20%27%20and%20%22%20and%20%23" + url), "none");
  EXPECT_EQ(connect(password, url + "&defaults-file=" + cnf), "none");
  // Escapes of either case, a low first digit, and '%' signs that start no escape (kept as
  // they are), in the password and the database name.
  EXPECT_EQ(connect("a@b:c/d\tx%zz%4", ":a%40b%3ac%2Fd%09x%zz%4@localhost/jrxo%5f" +
                                           std::to_string(getpid()) + "?socket=" + socket),
            "none");
  admin->ExecuteSql("DROP DATABASE " + database);  // made under its decoded name
  admin->ExecuteSql("DROP USER '" + user + "'@'localhost'");
}

// TLS against a server offering it (a certificate for 127.0.0.1 from a CA of the run) and one
// not: refused with the reason before any statement (which would create the database).
TEST(MariaOptions, TlsIsUsedWhereAskedForAndRefusedWhereItCannotBe) {
  const char* tls = std::getenv("JRX_TEST_MARIADB_TLS_URL");
  const char* ca = std::getenv("JRX_TEST_MARIADB_TLS_CA");
  const char* plain = std::getenv("JRX_TEST_MARIADB_PLAIN_URL");
  if (!tls || !*tls || !ca || !*ca || !plain || !*plain)
    GTEST_SKIP() << "no MariaDB server offering TLS (scripts/mariadb.sh tls)";
  const std::string caFile = ca, tlsDir = caFile.substr(0, caFile.rfind('/'));
  const std::string otherCa = tlsDir + "/other-ca.pem";
  const std::string database = "jrxtls_" + std::to_string(getpid());
  const std::string onTls = tls + database + "?connect-timeout=30&";
  const std::string onPlain = plain + database + "?connect-timeout=30&";
  // The same address in a form the resolver takes and the certificate does not name.
  std::string otherName = onTls;
  otherName.replace(otherName.find("127.0.0.1"), 9, "127.1");
  const std::string cipher =
      "(SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS WHERE VARIABLE_NAME = "
      "'Ssl_cipher')";
  const std::string encrypted = failIf(cipher + " = ''", "not encrypted");
  const std::string unencrypted = failIf(cipher + " <> ''", "encrypted");
  const std::string noDatabase = failIf(
      "EXISTS (SELECT 1 FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = '" + database + "')",
      "the database was created");
  // An account that takes a client certificate only, which the URL names with its key.
  auto admin = ASDatabase::Open(std::string(tls) + "?ssl-mode=PREFERRED");
  const std::string user = "jrx_x509_" + std::to_string(getpid());
  admin->Session()->ExecuteSql("CREATE USER '" + user + "'@'%' REQUIRE X509");
  admin->Session()->ExecuteSql("GRANT ALL ON *.* TO '" + user + "'@'%'");
  const std::string asUser = std::string(onTls).replace(8, 4, user) + "ssl-mode=REQUIRED";

  // Refused with the reason, before a statement is sent; or connected, as encrypted as asked.
  const std::string refused = "SELECT 1";
  const std::string cases[][3] = {
      {onTls + "ssl-mode=VERIFY_IDENTITY&ssl-ca=" + otherCa, refused, "certificate"},
      {onTls + "ssl-mode=VERIFY_CA&ssl-ca=" + otherCa, refused, "certificate"},
      {otherName + "ssl-mode=VERIFY_IDENTITY&ssl-ca=" + caFile, refused,
       "its certificate does not name the host '127.1'"},
      {onPlain + "ssl-mode=REQUIRED", refused,
       "does not offer TLS, which ssl-mode=REQUIRED requires"},
      {onTls + "ssl-mode=VERIFY_CA", refused, "VERIFY_CA needs the CA"},
      {asUser, refused, "Access denied"},
      {std::string(tls) + "?ssl-mode=VERIFY_IDENTITY&ssl-ca=" + caFile, noDatabase, "none"},
      {std::string(plain) + "?ssl-mode=DISABLED", noDatabase, "none"},
      {onTls + "ssl-mode=VERIFY_IDENTITY&ssl-ca=" + caFile, encrypted, "none"},
      {otherName + "ssl-mode=VERIFY_CA&ssl-ca=" + caFile, encrypted, "none"},  // any host name
      {onTls + "ssl-mode=PREFERRED", encrypted, "none"},
      {onTls + "ssl-mode=DISABLED", unencrypted, "none"},
      {onPlain + "ssl-mode=PREFERRED", unencrypted, "none"},
      {asUser + "&ssl-cert=" + tlsDir + "/client-cert.pem&ssl-key=" + tlsDir + "/client-key.pem",
       encrypted, "none"}};
  for (const auto& [url, sql, result] : cases) EXPECT_THAT(run(url, sql), HasSubstr(result)) << url;
  admin->Session()->ExecuteSql("DROP USER '" + user + "'@'%'");
  for (const char* server : {tls, plain})
    ASDatabase::Open(std::string(server) + "?ssl-mode=PREFERRED")
        ->Session()
        ->ExecuteSql("DROP DATABASE IF EXISTS " + database);
}

}  // namespace
