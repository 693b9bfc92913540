#include "SqliteStatement.h"

#include <chrono>
#include <thread>

#include "SqliteError.h"

SqliteStatement::SqliteStatement(sqlite3* db, const std::string& sql) : db_(db) {
  int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (rc != SQLITE_OK) sqliteThrow(db_, rc);
  if (!stmt_) throw AException("empty SQL statement");
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

int SqliteStatement::Step() {
  stepped_ = true;
  int rc = sqlite3_step(stmt_);
  if ((rc & 0xff) != SQLITE_LOCKED) return rc;
  // Connections sharing an in-memory database lock its tables against each other; that
  // lock is not covered by the busy timeout, so wait for it here.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((rc & 0xff) == SQLITE_LOCKED && std::chrono::steady_clock::now() <= deadline) {
    sqlite3_reset(stmt_);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    rc = sqlite3_step(stmt_);
  }
  return rc;
}

void SqliteStatement::Execute(const std::vector<ASBindValue>& params) {
  if (stepped_) Reset();
  int n = sqlite3_bind_parameter_count(stmt_);
  if (n != static_cast<int>(params.size()))
    throw AException("statement has " + std::to_string(n) + " parameters, " +
                     std::to_string(params.size()) + " values given");
  // SQLITE_STATIC: the caller keeps its values until Reset(), so SQLite reads them in place.
  for (int i = 0; i < n; ++i) {
    const ASBindValue& v = params[i];
    int rc = SQLITE_OK;
    switch (v.kind) {
      case ASBindValue::Null:
        rc = sqlite3_bind_null(stmt_, i + 1);
        break;
      case ASBindValue::Integer:
        rc = sqlite3_bind_int64(stmt_, i + 1, v.i);
        break;
      case ASBindValue::Real:
        rc = sqlite3_bind_double(stmt_, i + 1, v.d);
        break;
      case ASBindValue::Text:
        rc = sqlite3_bind_text64(stmt_, i + 1, v.Bytes().data(), v.Bytes().size(), SQLITE_STATIC,
                                 SQLITE_UTF8);
        break;
      case ASBindValue::Blob:
        rc = sqlite3_bind_blob64(stmt_, i + 1, v.Bytes().data(), v.Bytes().size(), SQLITE_STATIC);
        break;
    }
    if (rc != SQLITE_OK) sqliteThrow(db_, rc);
  }
  int rc = Step();
  changes_ = 0;
  if (rc == SQLITE_ROW) {
    pending_ = true;
    done_ = false;
  } else if (rc == SQLITE_DONE) {
    pending_ = false;
    done_ = true;
    changes_ = sqlite3_changes64(db_);
  } else {
    // The message must be read before reset, which may replace it.
    std::string text = sqlite3_errmsg(db_);
    int code = sqlite3_extended_errcode(db_);
    sqlite3_reset(stmt_);
    sqliteThrow(text, code);
  }
}

bool SqliteStatement::Next() {
  if (pending_) {
    pending_ = false;
    return true;
  }
  if (done_) return false;
  int rc = Step();
  if (rc == SQLITE_ROW) return true;
  done_ = true;
  if (rc == SQLITE_DONE) return false;
  std::string text = sqlite3_errmsg(db_);
  int code = sqlite3_extended_errcode(db_);
  sqlite3_reset(stmt_);
  throw AException(text, code, false);
}

size_t SqliteStatement::Columns() const { return sqlite3_column_count(stmt_); }

// The column is read through its value object: one call into the statement instead of one
// per question (type, bytes, text). The object is unprotected, which is safe because a
// connection, and its statements, is used by one thread at a time.
void SqliteStatement::Get(size_t column, ASBindValue& out) const {
  sqlite3_value* v = sqlite3_column_value(stmt_, static_cast<int>(column));
  const int type = sqlite3_value_type(v);
  switch (type) {
    case SQLITE_NULL:
      out.kind = ASBindValue::Null;
      break;
    case SQLITE_INTEGER:
      out.kind = ASBindValue::Integer;
      out.i = sqlite3_value_int64(v);
      break;
    case SQLITE_FLOAT:
      out.kind = ASBindValue::Real;
      out.d = sqlite3_value_double(v);
      break;
    default: {
      // Texts too as their bytes: asked for as text, a value read from the page would first
      // be copied to end it with a NUL. The database's texts are UTF-8, as they were bound.
      const void* p = sqlite3_value_blob(v);
      int n = sqlite3_value_bytes(v);
      out.kind = type == SQLITE_TEXT ? ASBindValue::Text : ASBindValue::Blob;
      if (p)
        out.bytes.assign(static_cast<const char*>(p), static_cast<size_t>(n));
      else
        out.bytes.clear();
      break;
    }
  }
}

void SqliteStatement::GetInto(size_t column, ASValue& v) const {
  sqlite3_value* x = sqlite3_column_value(stmt_, static_cast<int>(column));
  switch (sqlite3_value_type(x)) {
    case SQLITE_NULL:
      v.SetNull();
      break;
    case SQLITE_INTEGER:
      ASFetchInt(v, sqlite3_value_int64(x));
      break;
    case SQLITE_FLOAT:
      ASFetchReal(v, sqlite3_value_double(x));
      break;
    default: {  // texts and blobs, as bytes like Get()
      const void* p = sqlite3_value_blob(x);
      const size_t n = static_cast<size_t>(sqlite3_value_bytes(x));
      ASFetchBytes(v, p ? static_cast<const char*>(p) : "", p ? n : 0);
      break;
    }
  }
}

// The bindings stay: they point at values that are gone by the next run, but every run
// binds all parameters again before it steps.
void SqliteStatement::Reset() {
  if (stepped_) sqlite3_reset(stmt_);
  stepped_ = false;
  pending_ = false;
  done_ = true;
}
