#include "MariaStatement.h"

#include <algorithm>
#include <cstring>

#include "MariaConnection.h"
#include "MariaError.h"

MariaStatement::MariaStatement(MariaConnection& conn, MYSQL* db, const std::string& sql)
    : conn_(conn) {
  stmt_ = mysql_stmt_init(db);
  if (!stmt_) mariaThrow(db);
  if (mysql_stmt_prepare(stmt_, sql.data(), sql.size())) {
    try {
      mariaThrow(stmt_);
    } catch (...) {
      mysql_stmt_close(stmt_);
      throw;
    }
  }
  // Lets the result's metadata tell the longest value of each column once it is stored,
  // so that every row is fetched into buffers of the right size.
  my_bool on = 1;
  mysql_stmt_attr_set(stmt_, STMT_ATTR_UPDATE_MAX_LENGTH, &on);
}

MariaStatement::~MariaStatement() { mysql_stmt_close(stmt_); }

void MariaStatement::Execute(const std::vector<ASBindValue>& params) { Run(params, true); }

// One row needs no copy of the result on the client: it is fetched as it comes, and Reset()
// reads what is left of the result (its end). Outside a transaction the statement is ended
// on the server after it ran, which the pending row would not allow.
void MariaStatement::ExecuteOne(const std::vector<ASBindValue>& params) {
  Run(params, !conn_.InTransaction());
}

void MariaStatement::Run(const std::vector<ASBindValue>& params, bool store) {
  Reset();
  const unsigned long n = mysql_stmt_param_count(stmt_);
  if (n != params.size())
    throw AException("statement has " + std::to_string(n) + " parameters, " +
                     std::to_string(params.size()) + " values given");
  // The binds point into the caller's values: mysql_stmt_execute sends them, and nothing
  // reads them afterwards.
  paramBinds_.resize(n);
  for (unsigned long i = 0; i < n; ++i) {
    MYSQL_BIND& b = paramBinds_[i];
    std::memset(&b, 0, sizeof b);
    const ASBindValue& v = params[i];
    switch (v.kind) {
      case ASBindValue::Null:
        b.buffer_type = MYSQL_TYPE_NULL;
        break;
      case ASBindValue::Integer:
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = const_cast<long long*>(&v.i);
        break;
      case ASBindValue::Real:
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = const_cast<double*>(&v.d);
        break;
      case ASBindValue::Text:
      case ASBindValue::Blob:
        // Bytes as they are: the connection's character set is binary.
        b.buffer_type = MYSQL_TYPE_BLOB;
        b.buffer = const_cast<char*>(v.Bytes().data());
        b.buffer_length = v.Bytes().size();
        break;
    }
  }
  try {
    if (n && mysql_stmt_bind_param(stmt_, paramBinds_.data())) mariaThrow(stmt_);
    if (mysql_stmt_execute(stmt_)) mariaThrow(stmt_);
    changes_ = static_cast<long long>(mysql_stmt_affected_rows(stmt_));
    if (unsigned long long id = mysql_stmt_insert_id(stmt_)) conn_.SetLastInsertId(id);
    if (mysql_stmt_field_count(stmt_) > 0) {
      changes_ = 0;
      if (store) {
        // The whole page comes to the client now, leaving the connection free.
        if (mysql_stmt_store_result(stmt_)) mariaThrow(stmt_);
        stored_ = true;
      } else {
        streaming_ = true;
      }
      BindResult(store);
    }
  } catch (const AException& e) {
    if (!e.ConnectionLost()) conn_.StatementDone(false);
    throw;
  }
  conn_.StatementDone(true);
}

void MariaStatement::BindResult(bool stored) {
  // The statement's own field list (its max_length set by the store): no metadata copy, and
  // the column buffers of the previous execution are reused.
  MYSQL_FIELD* fields = mariadb_stmt_fetch_fields(stmt_);
  const unsigned n = mysql_stmt_field_count(stmt_);
  if (!fields) mariaThrow(stmt_);
  columns_.resize(n);
  resultBinds_.resize(n);
  for (unsigned i = 0; i < n; ++i) {
    Column& c = columns_[i];
    MYSQL_BIND& b = resultBinds_[i];
    std::memset(&b, 0, sizeof b);
    switch (fields[i].type) {
      case MYSQL_TYPE_TINY:
      case MYSQL_TYPE_SHORT:
      case MYSQL_TYPE_LONG:
      case MYSQL_TYPE_INT24:
      case MYSQL_TYPE_LONGLONG:
      case MYSQL_TYPE_YEAR:
        c.kind = Integer;
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &c.i;
        break;
      case MYSQL_TYPE_FLOAT:
      case MYSQL_TYPE_DOUBLE:
      case MYSQL_TYPE_DECIMAL:
      case MYSQL_TYPE_NEWDECIMAL:
        c.kind = Real;
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = &c.d;
        break;
      default: {
        c.kind = Bytes;
        // Not known of a row read as it comes: room for a short value (or the room a longer
        // one left), and a longer one is read again.
        const size_t want = !stored ? 256 : fields[i].max_length ? fields[i].max_length : 1;
        // Grown as needed and kept, unless a long value left it much larger than needed.
        if (c.buffer.size() < want || c.buffer.size() > std::max<size_t>(4 * want, 65536))
          std::string(want, '\0').swap(c.buffer);
        b.buffer_type = MYSQL_TYPE_BLOB;
        b.buffer = &c.buffer[0];
        b.buffer_length = c.buffer.size();
        break;
      }
    }
    c.null = 0;
    c.error = 0;
    b.length = &c.length;
    b.is_null = &c.null;
    b.error = &c.error;
  }
  if (mysql_stmt_bind_result(stmt_, resultBinds_.data())) mariaThrow(stmt_);
}

bool MariaStatement::Next() {
  if (!stored_ && !streaming_) return false;
  int rc = mysql_stmt_fetch(stmt_);
  if (rc == MYSQL_NO_DATA) return false;
  if (rc == 1) mariaThrow(stmt_);
  if (rc == MYSQL_DATA_TRUNCATED) {
    // Only where the longest value was not known (a row read as it comes): the long values
    // are fetched again.
    for (size_t i = 0; i < columns_.size(); ++i) {
      Column& c = columns_[i];
      if (!c.error || c.kind != Bytes) continue;
      std::string full(c.length, '\0');
      MYSQL_BIND b;
      std::memset(&b, 0, sizeof b);
      b.buffer_type = MYSQL_TYPE_BLOB;
      b.buffer = &full[0];
      b.buffer_length = full.size();
      b.length = &c.length;
      if (mysql_stmt_fetch_column(stmt_, &b, static_cast<unsigned>(i), 0)) mariaThrow(stmt_);
      c.buffer.swap(full);
      resultBinds_[i].buffer = &c.buffer[0];
      resultBinds_[i].buffer_length = c.buffer.size();
      if (mysql_stmt_bind_result(stmt_, resultBinds_.data())) mariaThrow(stmt_);
    }
  }
  return true;
}

void MariaStatement::Get(size_t column, ASBindValue& out) const {
  const Column& c = columns_.at(column);
  if (c.null) {
    out.kind = ASBindValue::Null;
    return;
  }
  switch (c.kind) {
    case Integer:
      out.kind = ASBindValue::Integer;
      out.i = c.i;
      break;
    case Real:
      out.kind = ASBindValue::Real;
      out.d = c.d;
      break;
    case Bytes:
      out.kind = ASBindValue::Blob;
      out.bytes.assign(c.buffer.data(), c.length);
      break;
  }
}

// As Get() reads the column, without a bound value between it and the member.
void MariaStatement::GetInto(size_t column, ASValue& v) const {
  const Column& c = columns_.at(column);
  if (c.null) return v.SetNull();
  switch (c.kind) {
    case Integer:
      ASFetchInt(v, c.i);
      break;
    case Real:
      ASFetchReal(v, c.d);
      break;
    case Bytes:
      ASFetchBytes(v, c.buffer.data(), c.length);
      break;
  }
}

void MariaStatement::Reset() {
  if (stored_ || streaming_) {
    mysql_stmt_free_result(stmt_);
    stored_ = streaming_ = false;
  }
}
