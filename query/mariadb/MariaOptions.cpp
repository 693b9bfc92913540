#include <unistd.h>

#include "MariaConnection.h"

namespace {

// A file Connector/C would skip silently (a typo in a URL) is refused before connecting.
void requireReadable(const std::string& path, const char* what) {
  if (access(path.c_str(), R_OK) != 0)
    throw AException(std::string(what) + " '" + path + "' cannot be read", 0, false);
}

}  // namespace

void applyClientOptions(MYSQL* db, const MariaTarget& target) {
  mysql_optionsv(db, MYSQL_SET_CHARSET_NAME, "binary");
  unsigned timeout = target.connectTimeout ? target.connectTimeout : 10;
  mysql_optionsv(db, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);

  // The connector reads [client], [client-server], [client-mariadb] and our own group, from
  // the named file only or from the usual places (/etc/my.cnf, /etc/mysql/my.cnf, ~/.my.cnf).
  if (!target.optionFile.empty()) {
    requireReadable(target.optionFile, "option file");
    mysql_optionsv(db, MYSQL_READ_DEFAULT_FILE, target.optionFile.c_str());
  } else {
    mysql_optionsv(db, MYSQL_READ_DEFAULT_FILE, nullptr);
  }
  mysql_optionsv(db, MYSQL_READ_DEFAULT_GROUP, "jrxlog");

  if (!target.sslCa.empty()) {
    requireReadable(target.sslCa, "ssl-ca file");
    mysql_optionsv(db, MYSQL_OPT_SSL_CA, target.sslCa.c_str());
  }
  if (!target.sslCert.empty()) {
    requireReadable(target.sslCert, "ssl-cert file");
    mysql_optionsv(db, MYSQL_OPT_SSL_CERT, target.sslCert.c_str());
  }
  if (!target.sslKey.empty()) {
    requireReadable(target.sslKey, "ssl-key file");
    mysql_optionsv(db, MYSQL_OPT_SSL_KEY, target.sslKey.c_str());
  }
  // The connector's "enforce" only asks for TLS where the server offers it, and connects
  // without where not: that is PREFERRED. Verifying the certificate refuses a server without
  // TLS before logging in, but checks the host name too, which only VERIFY_IDENTITY asks
  // for; given a CA, the connector checks the chain in any case. What the connector lets
  // through is refused once connected (tlsShortfall).
  const std::string& mode = target.sslMode;
  if (!mode.empty() && mode != "DISABLED") {
    my_bool on = 1;
    mysql_optionsv(db, MYSQL_OPT_SSL_ENFORCE, &on);
    if (mode == "VERIFY_IDENTITY") mysql_optionsv(db, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
  }
}

std::string tlsShortfall(MYSQL* db, const MariaTarget& target) {
  const std::string& mode = target.sslMode;
  if (mode != "REQUIRED" && mode != "VERIFY_CA" && mode != "VERIFY_IDENTITY") return "";
  if (!mysql_get_ssl_cipher(db))
    return std::string("the server (") + mysql_get_host_info(db) +
           ") does not offer TLS, which ssl-mode=" + mode + " requires";
  if (mode == "VERIFY_CA") {
    // Without a CA (from the URL or an option file) the connector checks no chain at all.
    const char* ca = nullptr;
    const char* caPath = nullptr;
    mysql_get_optionv(db, MYSQL_OPT_SSL_CA, &ca);
    mysql_get_optionv(db, MYSQL_OPT_SSL_CAPATH, &caPath);
    if (!(ca && *ca) && !(caPath && *caPath))
      return "ssl-mode=VERIFY_CA needs the CA that signs the server's certificate "
             "(ssl-ca, in the URL or an option file)";
  }
  return "";
}
