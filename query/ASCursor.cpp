// How a cursor reads its rows.
//
// A select never keeps a statement open on the connection between two Fetch() calls. The
// rows are read in pages: each page is one statement whose result is read completely into
// the cursor's memory before Fetch() returns, so any other statement (another cursor's page,
// an insert, an update) may run on the same session between two pages, and a page that was
// read does not change when the session writes afterwards.
//   - SQLite: the page statement is stepped to its end and reset; no read statement stays
//     active, so the session's writes never meet a half-read table.
//   - MariaDB: the page statement's result is transferred with mysql_stmt_store_result and
//     freed after it was copied, so the connection is free for the next statement.
//
// A long result is cut into pages of PageRows() rows. The order of the select is completed
// with a unique key: the projected columns of a DISTINCT select, otherwise the row key of
// every table, the ordered table's first (its auto-increment column, its primary key, or
// SQLite's rowid; NULL for a missing LEFT JOINed row). The added keys run in the direction
// of the order's last column, so that an index on (order, key) serves the whole order in one
// scan. Each page continues after the last row of the previous one (WHERE (order, key) >
// last ... LIMIT n, with the first order column's bound repeated on its own for the index)
// instead of using an offset: pages neither overlap nor skip rows, and the database reads
// only what a page needs. Inside a transaction the pages see its snapshot (MariaDB
// REPEATABLE READ; SQLite's transaction) plus the session's own writes; rows inserted after
// the first page are kept out by capping each table's row key at the maximum it had then.
// An order over several tables cannot follow one index on MariaDB; such scans sort what
// remains after the last row on every page, so callers keep them bounded.
//
// A select of one row (Limit(1)) reads it straight into the value members, the cursor
// keeping nothing but that it did. A select whose Limit() fits in one page runs as one
// statement, its order completed only by the row key of the one table it orders by (if it
// orders by one). So does a select that cannot be keyed: a DISTINCT select ordered by a
// column it does not project, or one over a MariaDB table without a key (the log's keyless
// tables are read per operation or per event, a bounded number of rows). A select without an
// order and without a limit that fits a page (the rows of one operation or one event, as a
// rule) runs as one statement that asks for one row more than a page: when that row does not
// come, the statement was all there is; when it does, the result is read in pages from the
// start instead.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "ASSelect.h"
#include "ASSessionAccess.h"
#include "ASThreadCache.h"

struct ASCursorState {
  ASSelectShape shape;
  bool analyzed = false;          // `shape` is this cursor's
  ASRowBuffer rows;
  size_t next = 0;
  bool exhausted = false;

  bool paged = false;
  bool single = false;            // one statement, ordered by `keys`
  bool probe = false;             // the one statement reads a row beyond a page to tell
                                  // whether the result fits
  bool firstPage = true;
  std::vector<ASOrderKey> keys;
  std::vector<size_t> keyColumn;  // where each key's value stands in a row
  std::vector<std::string> hidden;
  ASRow last;                     // key values of the last row read
  bool haveLast = false;
  bool nullTail = false;          // next page: the NULLs of a descending first key
  // Row keys no later page may exceed: rows the session inserts while it reads stay out.
  std::vector<std::pair<std::string, ASBindValue>> caps;
  std::vector<std::pair<ASDomain*, std::string>> rowKeys;
  unsigned long long remaining = std::numeric_limits<unsigned long long>::max();

  // As a new cursor's state, keeping the storage of a few rows. The plan of a select is
  // made only where a select is analyzed (a shape met for the first time, a paged read), so
  // the rest of the time there is none to drop.
  void Reset() {
    if (analyzed) {
      shape.inner.clear();
      shape.outer.clear();
      shape.on.clear();
      shape.where.clear();
      keys.clear();
      keyColumn.clear();
      hidden.clear();
      last.clear();
      caps.clear();
      rowKeys.clear();
      analyzed = false;
    }
    rows.Trim();
    next = 0;
    exhausted = paged = single = probe = haveLast = nullTail = false;
    firstPage = true;
    remaining = std::numeric_limits<unsigned long long>::max();
  }
};

namespace {

// The most columns a one-row select reads straight into its value members.
const size_t kDirectColumns = 16;

bool isNumber(ASType t) { return t == AS_INT || t == AS_INT64 || t == AS_TIME; }

// A fetched row is used once: its texts are handed over, not copied.
void assign(ASValue& v, ASBindValue& c) {
  switch (c.kind) {
    case ASBindValue::Null:
      v.SetNull();
      break;
    case ASBindValue::Integer:
      ASFetchInt(v, c.i);
      break;
    case ASBindValue::Real:
      ASFetchReal(v, c.d);
      break;
    case ASBindValue::Text:
    case ASBindValue::Blob:
      if (isNumber(v.Type()) || v.Type() == AS_DOUBLE)
        ASFetchBytes(v, c.bytes.data(), c.bytes.size());
      else
        v.TakeBytes(c.bytes);
      break;
  }
}

// Rows after `last` in the order of `keys`. The first key's range is repeated on its own so
// that the database can seek the order's index to it. A descending first key leaves its
// NULLs (which sort last) to a separate tail query, for the same reason.
bool continuation(const ASCursorState& s, ASSqlWriter& w) {
  const auto& keys = s.keys;
  const ASBindValue& v1 = s.last[s.keyColumn[0]];
  const bool null1 = v1.kind == ASBindValue::Null;
  if (null1) {
    if (keys[0].desc) w << keys[0].expr << " IS NULL AND ";
    w << "(";
  } else {
    w << keys[0].expr << (keys[0].desc ? " <= " : " >= ");
    w.Value(v1);
    w << " AND (";
  }
  bool anyTerm = false;
  for (size_t i = 0; i < keys.size(); ++i) {
    const ASBindValue& vi = s.last[s.keyColumn[i]];
    const bool nulli = vi.kind == ASBindValue::Null;
    if (nulli && keys[i].desc) continue;  // nothing sorts after NULL descending
    if (anyTerm) w << " OR ";
    anyTerm = true;
    w << "(";
    for (size_t j = 0; j < i; ++j) {
      const ASBindValue& vj = s.last[s.keyColumn[j]];
      if (vj.kind == ASBindValue::Null) {
        w << keys[j].expr << " IS NULL AND ";
      } else {
        w << keys[j].expr << " = ";
        w.Value(vj);
        w << " AND ";
      }
    }
    if (nulli) {
      w << keys[i].expr << " IS NOT NULL";
    } else if (!keys[i].desc) {
      w << keys[i].expr << " > ";
      w.Value(vi);
    } else if (i == 0) {
      w << keys[i].expr << " < ";
      w.Value(vi);
    } else {
      w << "(" << keys[i].expr << " < ";
      w.Value(vi);
      w << " OR " << keys[i].expr << " IS NULL)";
    }
    w << ")";
  }
  w << ")";
  return anyTerm;
}

void addKey(std::vector<ASOrderKey>& keys, const std::string& expr, bool desc) {
  for (const ASOrderKey& k : keys)
    if (k.expr == expr) return;
  keys.push_back({expr, desc});
}

// Keys added to the order run in the direction of its last column, so that one index scan
// serves the whole order.
bool tieDescending(const ASFilter& f) { return !f.Orders().empty() && f.Orders().back().Descending(); }

// The one table an order is all on, when it is an inner table of a plain select: its row key
// breaks the order's ties. Null when the order spans tables or has none.
ASDomain* orderedTable(const ASFilter& f, const ASCursorState& s) {
  if (f.Orders().empty() || f.Projection().IsDistinct()) return nullptr;
  ASDomain* only = f.Orders()[0].Attribute()->Domain();
  for (const ASOrder& o : f.Orders())
    if (o.Attribute()->Domain() != only) return nullptr;
  const auto& inner = s.shape.inner;
  return std::find(inner.begin(), inner.end(), only) != inner.end() ? only : nullptr;
}

void addOrderKeys(const ASFilter& f, ASCursorState& s) {
  for (const ASOrder& o : f.Orders())
    addKey(s.keys, ASColumnExpr(*o.Attribute()->Domain(), o.Attribute()->Index()),
           o.Descending());
}

// A result that fits one page runs once. Ties of an order on one table are broken by that
// table's row key, which the order's index holds anyway; keys of further tables would make
// the database sort the whole join instead of following an index.
void planSingle(const ASFilter& f, ASSession& session, ASCursorState& s) {
  s.paged = false;
  s.keys.clear();
  addOrderKeys(f, s);
  if (ASDomain* only = orderedTable(f, s))
    for (const std::string& rk : ASSessionAccess::Connection(session).RowKey(*only))
      addKey(s.keys, ASRowKeyExpr(*only, rk), tieDescending(f));
  s.single = !s.keys.empty();
}

// The unique order a paged select continues along, and where each key's value stands in a
// row (a projected column or a hidden one added after them). False: it cannot be keyed
// (a table without a key), and one statement reads it all.
//
// The ordered table's key comes first, as in planSingle, so that rows of equal order come
// in the same sequence whether the result is read at once or in pages.
bool planPaged(const ASFilter& f, ASSession& session, ASCursorState& s) {
  const bool tieDesc = tieDescending(f);
  const auto& proj = f.Projection().Attributes();
  std::vector<std::string> projExpr;
  for (const ASAttribute* a : proj) projExpr.push_back(ASColumnExpr(*a->Domain(), a->Index()));
  addOrderKeys(f, s);
  if (f.Projection().IsDistinct()) {
    for (const ASOrderKey& k : s.keys)
      if (std::find(projExpr.begin(), projExpr.end(), k.expr) == projExpr.end()) {
        s.keys.clear();
        return false;
      }
    for (const std::string& e : projExpr) addKey(s.keys, e, tieDesc);
  } else {
    ASDriverConnection& conn = ASSessionAccess::Connection(session);
    // A LEFT JOINed table may give several rows per row of the others, so it needs its key
    // too; where its row is missing the key is NULL, which the continuation handles. Only
    // inner tables are capped: a cap would turn a missing row into no row.
    std::vector<ASDomain*> all;
    if (ASDomain* only = orderedTable(f, s)) all.push_back(only);
    for (ASDomain* d : s.shape.inner)
      if (std::find(all.begin(), all.end(), d) == all.end()) all.push_back(d);
    all.insert(all.end(), s.shape.outer.begin(), s.shape.outer.end());
    for (ASDomain* d : all) {
      const std::vector<std::string> rk = conn.RowKey(*d);
      if (rk.empty()) {
        s.keys.clear();
        s.rowKeys.clear();
        return false;
      }
      for (const std::string& col : rk) addKey(s.keys, ASRowKeyExpr(*d, col), tieDesc);
      // Only a key that grows with insertion can be capped; a natural key cannot.
      std::vector<std::string> natural;
      for (size_t c : d->PrimaryKey()) natural.push_back(d->Attribute(c).Name());
      const bool inner =
          std::find(s.shape.inner.begin(), s.shape.inner.end(), d) != s.shape.inner.end();
      if (inner && rk.size() == 1 && rk != natural) s.rowKeys.emplace_back(d, rk[0]);
    }
  }
  for (const ASOrderKey& k : s.keys) {
    auto it = std::find(projExpr.begin(), projExpr.end(), k.expr);
    if (it != projExpr.end()) {
      s.keyColumn.push_back(static_cast<size_t>(it - projExpr.begin()));
    } else {
      s.keyColumn.push_back(proj.size() + s.hidden.size());
      s.hidden.push_back(k.expr);
    }
  }
  return true;
}

void analyze(const ASFilter& f, ASCursorState& s) {
  if (s.analyzed) return;
  s.shape = ASAnalyzeSelect(f);
  s.analyzed = true;
}

// Cursor states are kept for the thread's next cursors: the row buffer of one keeps its
// storage, so that a cursor reading a few rows allocates nothing for them.
const size_t kPooledStates = 8;
struct StatePool {
  ASCursorState* free[kPooledStates];
  size_t count;
};
struct FreeStates {
  void ThreadEnds(StatePool& p) {
    while (p.count) delete p.free[--p.count];
  }
};
using StateCache = ASThreadCache<StatePool, FreeStates>;

ASCursorState* acquireState() {
  StatePool& p = StateCache::Mine().data;
  if (p.count) return p.free[--p.count];
  return new ASCursorState;
}

void releaseState(ASCursorState* s) {
  if (!s) return;
  StateCache::Slot& slot = StateCache::Mine();
  StatePool& p = slot.data;
  if (p.count == kPooledStates || !slot.Keep()) {
    delete s;
    return;
  }
  s->Reset();
  p.free[p.count++] = s;
}

}  // namespace

void ASFetchInt(ASValue& v, long long i) {
  const ASType t = v.Type();
  if (isNumber(t)) {
    v.SetInt64(i);
  } else if (t == AS_DOUBLE) {
    v.SetDouble(static_cast<double>(i));
  } else {
    const std::string s = std::to_string(i);
    v.SetBytes(s.data(), s.size());
  }
}

void ASFetchReal(ASValue& v, double d) {
  const ASType t = v.Type();
  if (t == AS_DOUBLE) {
    v.SetDouble(d);
  } else if (isNumber(t)) {
    v.SetInt64(static_cast<long long>(d));
  } else {
    const std::string s = std::to_string(d);
    v.SetBytes(s.data(), s.size());
  }
}

void ASFetchBytes(ASValue& v, const char* data, size_t size) {
  const ASType t = v.Type();
  if (isNumber(t) || t == AS_DOUBLE) {
    const std::string text(data, size);  // the conversions read up to a NUL
    if (t == AS_DOUBLE)
      v.SetDouble(std::strtod(text.c_str(), nullptr));
    else
      v.SetInt64(std::strtoll(text.c_str(), nullptr, 10));
  } else {
    v.SetBytes(data, size);
  }
}

void ASDriverStatement::GetInto(size_t column, ASValue& v) const {
  ASBindValue b;
  Get(column, b);
  assign(v, b);
}

ASCursor::ASCursor(ASSession* session) : session_(session) {
  if (!session) NoSession();
}

ASCursor::ASCursor() : session_(nullptr), kept_(new ASKeptShape) {}

ASCursor::~ASCursor() { releaseState(state_.release()); }

void ASCursor::Close() {
  releaseState(state_.release());
  readOne_ = false;
}

ASCursor& ASCursor::Reopen(ASSession* session) {
  Close();
  session_ = session;
  return *this;
}

ASCursor& ASCursor::PageRows(unsigned long long rows) {
  pageRows_ = rows ? rows : 1;
  return *this;
}

namespace {

// What reading a cursor's rows needs of it.
struct Reading {
  const ASFilter& f;
  ASSession& session;
  unsigned long long pageRows;
  ASCursorState& s;
};

// The way a cursor reads, decided by its first Fetch() (see the top of this file).
void start(Reading& r) {
  const ASFilter& f = r.f;
  ASCursorState& s = r.s;
  if (f.HasLimit()) s.remaining = f.LimitCount();
  const bool fits = f.HasLimit() && f.LimitCount() <= r.pageRows;
  s.probe = !fits && f.Orders().empty() &&
            r.pageRows < std::numeric_limits<unsigned long long>::max();
  if (!fits && !s.probe) {
    analyze(f, s);
    s.paged = planPaged(f, r.session, s);
  }
  if (f.HasLimit() && f.LimitCount() == 0) s.exhausted = true;
}

// The one statement of a cursor that is not paged, prepared once for its shape: the text is
// written on the first meeting only, and so is the plan of its order (in a state of its own,
// which the cursor need not have).
ASFound wholeStatement(const ASFilter& f, ASSession& session, ASKeptShape* kept, bool limit,
                       unsigned long long count) {
  auto key = [&](ASShapeKey& k) {
    ASKeySelect(f, k);
    k.Tag(limit ? ASKeyTag::Limit : ASKeyTag::None);
    k.Tag(limit && f.LimitOffset() ? ASKeyTag::Offset : ASKeyTag::None);
  };
  return ASSessionAccess::Shape(session, kept, f.Version(), key, [&](ASSqlWriter& w) {
    ASCursorState s;
    analyze(f, s);
    planSingle(f, session, s);
    ASSelectExtras x;
    x.dialect = &ASSessionAccess::Connection(session);
    x.limit = limit;
    x.count = count;
    x.offset = f.LimitOffset();
    if (s.single) x.order = &s.keys;
    ASRenderSelect(f, s.shape, x, w);
  });
}

// A select of one row reads it straight into the value members. True: there was a row.
bool fetchDirect(const ASFilter& f, ASSession& session, ASKeptShape* kept) {
  const ASFound p = wholeStatement(f, session, kept, true, 1);
  const auto& proj = f.Projection().Attributes();
  ASValue* members[kDirectColumns];
  for (size_t i = 0; i < proj.size(); ++i) {
    ASDomain* d = proj[i]->Domain();
    members[i] = d->HasValues() ? &d->Value(proj[i]->Index()) : nullptr;
  }
  ASRowTarget target;
  target.members = members;
  target.count = proj.size();
  ASSessionAccess::Run(session, p, 1, f.LimitOffset(), nullptr, nullptr, &target);
  return target.filled;
}

// The whole result in one statement. A probe that finds more than a page turns the cursor
// to reading in pages from the start.
void fetchWhole(Reading& r, ASKeptShape* kept) {
  const ASFilter& f = r.f;
  ASCursorState& s = r.s;
  const unsigned long long count = s.probe ? r.pageRows + 1 : f.LimitCount();
  const ASFound p = wholeStatement(f, r.session, kept, f.HasLimit() || s.probe, count);
  ASSessionAccess::Run(r.session, p, count, f.LimitOffset(), nullptr, &s.rows);
  if (s.probe && s.rows.size() > r.pageRows) {
    s.rows.clear();
    s.keys.clear();
    s.single = s.probe = false;
    analyze(f, s);
    s.paged = planPaged(f, r.session, s);
    return;
  }
  s.exhausted = true;
}

// After the first of several pages: how far each table's keys reach now, which no later page
// may exceed.
void capRowKeys(Reading& r) {
  ASCursorState& s = r.s;
  std::string sql = "SELECT ";
  for (size_t i = 0; i < s.rowKeys.size(); ++i)
    sql += (i ? ", (SELECT MAX(" : "(SELECT MAX(") + s.rowKeys[i].second + ") FROM " +
           s.rowKeys[i].first->TableName() + ")";
  ASRowBuffer top;
  ASSessionAccess::Run(r.session, sql, {}, &top);
  for (size_t i = 0; !top.empty() && i < s.rowKeys.size() && i < top[0].size(); ++i)
    if (top[0][i].kind != ASBindValue::Null)
      s.caps.emplace_back(ASRowKeyExpr(*s.rowKeys[i].first, s.rowKeys[i].second), top[0][i]);
}

// The next page after the last row read. False: none can follow.
bool fetchPage(Reading& r) {
  const ASFilter& f = r.f;
  ASCursorState& s = r.s;
  ASSelectExtras x;
  x.dialect = &ASSessionAccess::Connection(r.session);
  ASSqlWriter cont;
  const unsigned long long want = s.remaining < r.pageRows ? s.remaining : r.pageRows;
  x.hidden = s.hidden;
  x.order = &s.keys;
  x.limit = true;
  x.count = want;
  x.offset = s.firstPage ? f.LimitOffset() : 0;
  if (s.nullTail) {
    cont << s.keys[0].expr << " IS NULL";
    x.where = &cont;
  } else if (s.haveLast) {
    if (!continuation(s, cont)) {
      s.exhausted = true;
      return false;
    }
    x.where = &cont;
  }
  if (x.where) {
    for (const auto& cap : s.caps) {
      cont << " AND " << cap.first << " <= ";
      cont.Value(cap.second);
    }
  }
  // A continuation after a non-NULL descending first key stops before that key's NULLs;
  // when it runs out, the NULLs follow as a tail of their own.
  const bool excludesNulls = !s.nullTail && s.haveLast && s.keys[0].desc &&
                             s.last[s.keyColumn[0]].kind != ASBindValue::Null;
  ASSqlWriter w;
  ASRenderSelect(f, s.shape, x, w);
  ASSessionAccess::Run(r.session, ASResolveAliases(w.sql), w.values, &s.rows);

  if (s.firstPage && s.rows.size() == want && !s.rowKeys.empty()) capRowKeys(r);
  s.firstPage = false;
  s.nullTail = false;
  s.remaining -= s.rows.size();
  if (!s.rows.empty()) {
    s.last = s.rows.back();
    s.haveLast = true;
  }
  if (s.remaining == 0)
    s.exhausted = true;
  else if (s.rows.size() < want)
    (excludesNulls ? s.nullTail : s.exhausted) = true;
  return true;
}

}  // namespace

void ASCursor::NoSession() { throw AException("a cursor needs a session"); }

int ASCursor::Fetch() {
  if (!session_) NoSession();
  // A select of one row needs no state: its row goes straight into the value members.
  if (!state_ && hasLimit_ && limit_ == 1 && proj_.Attributes().size() <= kDirectColumns) {
    if (readOne_) return 0;
    readOne_ = true;
    return fetchDirect(*this, *session_, kept_.get()) ? 1 : 0;
  }
  if (!state_) {
    state_.reset(acquireState());
    Reading r{*this, *session_, pageRows_, *state_};
    start(r);
  }
  ASCursorState& s = *state_;
  Reading r{*this, *session_, pageRows_, s};
  while (s.next >= s.rows.size()) {
    if (s.exhausted) return 0;
    s.rows.clear();
    s.next = 0;
    if (s.paged) {
      if (!fetchPage(r)) return 0;
    } else {
      fetchWhole(r, kept_.get());
    }
  }

  ASRow& row = s.rows[s.next++];
  const auto& proj = proj_.Attributes();
  for (size_t i = 0; i < proj.size() && i < row.size(); ++i) {
    ASDomain* d = proj[i]->Domain();
    if (d->HasValues()) assign(d->Value(proj[i]->Index()), row[i]);
  }
  return 1;
}
