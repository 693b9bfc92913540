// URL form: mysql://[USER[:PASSWORD]@][HOST[:PORT]]/DB[?PARAM=VALUE&...]; an empty DB
// connects to no database (for administration). What the URL leaves out (user, password,
// host, port, socket) comes from the client option files or, for the password, MYSQL_PWD,
// through Connector/C's own reading of them.
#include "MariaUrl.h"

#include <algorithm>
#include <cctype>

#include "ASQuery.h"
#include "ASHex.h"

namespace {

// Percent-decoding, so that a password may hold '@', ':' or '/'.
std::string decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int h = ASHexValue(s[i + 1]), l = ASHexValue(s[i + 2]);
      if (h >= 0 && l >= 0) {
        out += static_cast<char>(h * 16 + l);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

const char* const kUrlForm =
    "mysql://[USER[:PASSWORD]@][HOST[:PORT]]/DB[?socket=PATH&defaults-file=FILE&"
    "ssl-mode=MODE&ssl-ca=FILE&ssl-cert=FILE&ssl-key=FILE&connect-timeout=SECONDS]";

unsigned parseNumber(const std::string& text, unsigned long max, bool& ok) {
  ok = !text.empty() && text.size() <= 10 &&
       text.find_first_not_of("0123456789") == std::string::npos && std::stoul(text) <= max;
  return ok ? static_cast<unsigned>(std::stoul(text)) : 0;
}

}  // namespace

MariaTarget parseMariaUrl(const std::string& url) {
  auto bad = [&](const std::string& why) {
    return AException("database URL '" + url + "' " + why + " (" + kUrlForm + ")");
  };
  const std::string prefix = "mysql://";
  if (url.compare(0, prefix.size(), prefix) != 0) throw bad("does not start with mysql://");
  std::string rest = url.substr(prefix.size());
  MariaTarget t;
  auto q = rest.find('?');
  if (q != std::string::npos) {
    std::string params = rest.substr(q + 1);
    rest = rest.substr(0, q);
    size_t p = 0;
    while (p <= params.size()) {
      auto amp = params.find('&', p);
      std::string kv = params.substr(p, amp == std::string::npos ? std::string::npos : amp - p);
      auto eq = kv.find('=');
      std::string k = kv.substr(0, eq), v = eq == std::string::npos ? "" : decode(kv.substr(eq + 1));
      if (k == "socket") {
        t.socket = v;
      } else if (k == "defaults-file") {
        t.optionFile = v;
      } else if (k == "ssl-mode") {
        std::transform(v.begin(), v.end(), v.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (v != "DISABLED" && v != "PREFERRED" && v != "REQUIRED" && v != "VERIFY_CA" &&
            v != "VERIFY_IDENTITY")
          throw bad("has an ssl-mode other than DISABLED, PREFERRED, REQUIRED, VERIFY_CA and "
                    "VERIFY_IDENTITY");
        t.sslMode = v;
      } else if (k == "ssl-ca") {
        t.sslCa = v;
      } else if (k == "ssl-cert") {
        t.sslCert = v;
      } else if (k == "ssl-key") {
        t.sslKey = v;
      } else if (k == "connect-timeout") {
        bool ok = false;
        t.connectTimeout = parseNumber(v, 3600, ok);
        if (!ok || t.connectTimeout == 0)
          throw bad("has a connect-timeout other than 1 to 3600 seconds");
      } else if (!k.empty()) {
        throw bad("has an unknown parameter '" + k + "'");
      }
      if (amp == std::string::npos) break;
      p = amp + 1;
    }
  }
  auto at = rest.rfind('@');
  if (at != std::string::npos) {
    std::string cred = rest.substr(0, at);
    rest = rest.substr(at + 1);
    auto colon = cred.find(':');
    t.user = decode(cred.substr(0, colon));
    if (colon != std::string::npos) t.password = decode(cred.substr(colon + 1));
    if (t.user.empty()) throw bad("names an empty user");
  }
  auto slash = rest.find('/');
  if (slash == std::string::npos) throw bad("names no database");
  std::string hostPort = rest.substr(0, slash);
  t.database = decode(rest.substr(slash + 1));
  auto pc = hostPort.rfind(':');
  if (pc != std::string::npos) {
    bool ok = false;
    t.port = parseNumber(hostPort.substr(pc + 1), 65535, ok);
    if (!ok) throw bad("has a bad port");
    hostPort = hostPort.substr(0, pc);
  }
  t.host = hostPort;
  for (char c : t.database)
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '-'))
      throw bad("has a database name other than letters, digits, '_', '$' and '-'");
  return t;
}

