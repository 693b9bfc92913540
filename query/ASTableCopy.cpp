// A copy reads the source a page at a time and writes each page to the target in one
// transaction, through INSERT statements of many rows each: on MariaDB a statement is a
// round trip, so rows per statement, not per transaction, set the rate. Statements hold a
// power of two of rows (up to the most that the parameters and AS_MAX_ROW_BYTES allow), so a
// table needs a handful of prepared statements whatever the sizes of its rows.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "ASRowDigest.h"
#include "ASSessionAccess.h"
#include "ASTableCopy.h"
#include "ASTablePages.h"

namespace {

// Past this, longer statements no longer save a measurable share of the round trips.
const size_t kMostRowsPerStatement = 512;

bool bytesType(ASType t) { return t == AS_VSTR || t == AS_BINSTR || t == AS_BLOB || t == AS_GUID; }

ASBindValue nameValue(const ASDomain& table) {
  ASBindValue v;
  v.kind = ASBindValue::Text;
  v.bytes = table.TableName();
  return v;
}

ASRowBuffer& run(ASSession* session, const std::string& sql, const std::vector<ASBindValue>& params,
                 ASRowBuffer& rows) {
  rows.clear();
  ASSessionAccess::Run(*session, sql, params, &rows);
  return rows;
}

// The largest value the table's auto-increment column handed out (0: none).
long long autoIncrementUsed(ASSession* session, const ASDomain& table) {
  ASRowBuffer rows;
  run(session, ASSessionAccess::Connection(*session).AutoIncrementUsedSql(), {nameValue(table)},
      rows);
  if (rows.empty() || rows[0].empty()) return 0;
  const ASBindValue& v = rows[0][0];
  if (v.kind == ASBindValue::Integer) return v.i;
  if (v.kind == ASBindValue::Text || v.kind == ASBindValue::Blob)
    return std::atoll(v.Bytes().c_str());
  return 0;
}

class RowWriter {
 public:
  RowWriter(ASSession& session, const ASDomain& table) : session_(session), table_(table) {
    const size_t columns = std::max<size_t>(1, table.Size());
    const size_t byParameters =
        std::max<size_t>(1, ASSessionAccess::Connection(session).MaxParameters() / columns);
    while (mostRows_ * 2 <= std::min(kMostRowsPerStatement, byParameters)) mostRows_ *= 2;
    head_ = "INSERT INTO " + table.TableName() + " (";
    for (size_t i = 0; i < table.Size(); ++i) head_ += (i ? ", " : "") + table.Attribute(i).Name();
    head_ += ") VALUES ";
    row_ = "(";
    for (size_t i = 0; i < table.Size(); ++i) row_ += i ? ", ?" : "?";
    row_ += ")";
  }

  // All of `rows`, in as few statements as fit.
  void Write(const ASRowBuffer& rows) {
    size_t at = 0;
    while (at < rows.size()) {
      // As many rows as the limits allow, cut down to a power of two.
      size_t n = 0, bytes = 0;
      while (at + n < rows.size() && n < mostRows_) {
        const size_t size = rowBytes(rows[at + n]);
        if (n && bytes + size > AS_MAX_ROW_BYTES) break;
        bytes += size;
        ++n;
      }
      size_t count = 1;
      while (count * 2 <= n) count *= 2;
      Statement(rows, at, count);
      at += count;
    }
  }

 private:
  static size_t rowBytes(const ASRow& row) {
    size_t n = 0;
    for (const ASBindValue& v : row) n += 8 + v.Bytes().size();
    return n;
  }

  void Statement(const ASRowBuffer& rows, size_t at, size_t count) {
    std::string& sql = sql_[count];
    if (sql.empty()) {
      sql = head_;
      for (size_t r = 0; r < count; ++r) sql += (r ? ", " : "") + row_;
    }
    params_.resize(count * table_.Size());
    size_t p = 0;
    for (size_t r = 0; r < count; ++r) {
      const ASRow& row = rows[at + r];
      for (size_t c = 0; c < table_.Size(); ++c) {
        const ASBindValue& v = row[c];
        ASBindValue& b = params_[p++];
        b.kind = v.kind;
        b.i = v.i;
        b.d = v.d;
        b.ref = &v.Bytes();
        // What the library binds for the column (a text stays a text on SQLite), whichever
        // database the bytes came from.
        const ASType type = table_.Attribute(c).Type();
        if ((v.kind == ASBindValue::Text || v.kind == ASBindValue::Blob) && bytesType(type))
          b.kind = type == AS_VSTR ? ASBindValue::Text : ASBindValue::Blob;
      }
    }
    ASSessionAccess::Run(session_, sql, params_, nullptr);
  }

  ASSession& session_;
  const ASDomain& table_;
  size_t mostRows_ = 1;
  std::string head_, row_;
  std::map<size_t, std::string> sql_;  // by rows
  std::vector<ASBindValue> params_;
};

}  // namespace

bool ASTableExists(ASSession* session, const ASDomain& table) {
  ASRowBuffer rows;
  return !run(session, ASSessionAccess::Connection(*session).TableExistsSql(), {nameValue(table)},
              rows)
              .empty();
}

bool ASTableHasRows(ASSession* session, const ASDomain& table) {
  if (!ASTableExists(session, table)) return false;
  ASRowBuffer rows;
  return !run(session, "SELECT 1 FROM " + table.TableName() + " LIMIT 1", {}, rows).empty();
}

long long ASCountRows(ASSession* session, const ASDomain& table) {
  ASRowBuffer rows;
  run(session, "SELECT COUNT(*) FROM " + table.TableName(), {}, rows);
  return rows.empty() ? 0 : rows[0][0].i;
}

ASTableDigest ASCopyTable(ASSession* from, ASSession* to, const ASDomain& table,
                          const ASCopyOptions& options) {
  ASTablePages pages(*from, table, options.batchRows);
  RowWriter writer(*to, table);
  ASRowBuffer rows;
  ASRowDigest digest;
  ASTableDigest out;
  const ASAttribute* autoinc = table.AutoIncrement();
  long long largestKey = 0;
  while (pages.Next(rows)) {
    for (size_t r = 0; r < rows.size(); ++r) {
      for (const ASBindValue& v : rows[r]) digest.Add(v);
      if (autoinc) largestKey = std::max(largestKey, rows[r][autoinc->Index()].i);
    }
    ASTransaction batch(to);
    writer.Write(rows);
    batch.Commit();
    out.rows += static_cast<long long>(rows.size());
    if (options.progress) options.progress(out.rows);
  }
  rows.Trim();
  if (autoinc) {
    // Keys the source handed out and then deleted (compaction) stay used: rows elsewhere
    // may still name them.
    const long long used =
        std::max({largestKey, autoIncrementUsed(from, table), autoIncrementUsed(to, table)});
    if (used > 0)
      for (const std::string& sql :
           ASSessionAccess::Connection(*to).ReserveAutoIncrementSql(table, used))
        to->ExecuteSql(sql);
  }
  out.checksum = digest.Hex();
  return out;
}

ASTableDigest ASDigestTable(ASSession* session, const ASDomain& table) {
  ASTablePages pages(*session, table, 5000);
  ASRowBuffer rows;
  ASRowDigest digest;
  ASTableDigest out;
  while (pages.Next(rows)) {
    for (size_t r = 0; r < rows.size(); ++r)
      for (const ASBindValue& v : rows[r]) digest.Add(v);
    out.rows += static_cast<long long>(rows.size());
  }
  out.checksum = digest.Hex();
  return out;
}
