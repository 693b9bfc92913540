// What a mysql:// database URL names. Parsing is apart from connecting, so that a URL can be
// checked (and fuzzed) without a server.
#pragma once

#include <string>

// Where a mysql:// URL points, and how to get there. Empty texts are left to the client
// option files (and MYSQL_PWD for the password), as every MySQL client does.
struct MariaTarget {
  std::string user, password, host, database, socket;
  unsigned port = 0;
  std::string optionFile;  // read instead of the default option files
  std::string sslMode;     // DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY
  std::string sslCa, sslCert, sslKey;
  unsigned connectTimeout = 0;  // seconds; 0: the option files' or our default
};

// mysql://[USER[:PASSWORD]@][HOST[:PORT]]/DB[?PARAM=VALUE&...], with USER, PASSWORD and DB
// percent-decoded. Throws AException naming the URL, what is wrong and the URL's form.
MariaTarget parseMariaUrl(const std::string& url);
