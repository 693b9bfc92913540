#include "SqliteError.h"

#include "ASQuery.h"

void sqliteThrow(sqlite3* db, int rc, const std::string& context) {
  std::string text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int code = db ? sqlite3_extended_errcode(db) : rc;
  if (!context.empty()) text += " (" + context + ")";
  // An embedded database cannot go away under its connection.
  throw AException(text, code, false);
}
