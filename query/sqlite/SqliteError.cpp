#include "SqliteError.h"

#include "ASQuery.h"

namespace {

ASErrorKind kindOf(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return AS_ERROR_CONFLICT;
    default:
      break;
  }
  if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY)
    return AS_ERROR_DUPLICATE_KEY;
  return AS_ERROR_OTHER;
}

}  // namespace

void sqliteThrow(const std::string& text, int code) {
  // An embedded database cannot go away under its connection. A trigger may refuse a row
  // with an empty message: the code's own words stand in.
  throw AException(text.empty() ? sqlite3_errstr(code) : text, code, false, kindOf(code));
}

void sqliteThrow(sqlite3* db, int rc, const std::string& context) {
  std::string text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int code = db ? sqlite3_extended_errcode(db) : rc;
  if (!context.empty()) text += " (" + context + ")";
  sqliteThrow(text, code);
}
