// URL forms: sqlite:PATH, sqlite::memory:
#include "SqliteConnection.h"

namespace {

std::unique_ptr<ASDriverConnection> openSqlite(const std::string& url, unsigned long instance) {
  std::string path = url.substr(url.find(':') + 1);
  if (path.empty()) throw AException("database URL '" + url + "' names no SQLite file");
  if (path == ":memory:") {
    // Named per pool, so that all threads of one database see the same data.
    std::string uri = "file:jrx_memory_" + std::to_string(instance) + "?mode=memory&cache=shared";
    return std::unique_ptr<ASDriverConnection>(new SqliteConnection(uri, true));
  }
  return std::unique_ptr<ASDriverConnection>(new SqliteConnection(path, false));
}

ASDriverRegistration registration("sqlite", &openSqlite);

}  // namespace
