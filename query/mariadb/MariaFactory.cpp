// The "mysql" scheme of database URLs (MariaUrl.h); a DB that does not exist yet is created.
#include <mutex>

#include "MariaConnection.h"

namespace {

std::unique_ptr<ASDriverConnection> openMaria(const std::string& url, unsigned long) {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
  return std::unique_ptr<ASDriverConnection>(new MariaConnection(parseMariaUrl(url)));
}

ASDriverRegistration registration("mysql", &openMaria);

}  // namespace
