#include <algorithm>
#include <atomic>
#include <limits>
#include <unordered_map>

#include "ASLayout.h"
#include "ASRowLimits.h"
#include "ASSessionAccess.h"
#include "ASShapeCheck.h"
#include "ASShapeTable.h"
#include "ASSqlText.h"

// Prepared statements of this connection, reused whenever the same SQL text runs again, and
// the statements of the shapes met so far (which point into bySql).
struct ASSession::Statements {
  static constexpr size_t kMax = ASShapeTable<ASPrepared>::kMax;
  std::unordered_map<std::string, std::unique_ptr<ASDriverStatement>> bySql;
  ASShapeTable<ASPrepared> shapes;
  ASShapeKey key;                   // of the statement being built
  // Renewed whenever the shapes are cleared, unique among all sessions: what a kept statement
  // found here stays valid while this is the same.
  unsigned long long epoch = NewEpoch();
  std::vector<ASBindValue> params;  // its values, bound by reference where they are
#ifdef NDEBUG
  bool checkShapes = false;
#else
  bool checkShapes = true;
#endif

  void Clear() {
    shapes.Clear();
    bySql.clear();
    epoch = NewEpoch();
  }
  static unsigned long long NewEpoch() {
    static std::atomic<unsigned long long> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  // Room for one more; whatever a statement being built refers to is found again or
  // prepared anew.
  void MakeRoom() {
    if (bySql.size() >= kMax || shapes.Full()) Clear();
  }
  ASDriverStatement& Prepared(ASDriverConnection& conn, const std::string& sql) {
    auto it = bySql.find(sql);
    if (it == bySql.end()) it = bySql.emplace(sql, conn.Prepare(sql)).first;
    return *it->second;
  }
};

ASSession::ASSession(std::unique_ptr<ASDriverConnection> connection)
    : conn_(std::move(connection)), statements_(new Statements) {
  if (!conn_) throw AException("a session needs a connection");
}

ASSession::~ASSession() {
  statements_.reset();  // before the connection they belong to
}

void ASSession::AddRef() const { refs_.fetch_add(1, std::memory_order_relaxed); }

void ASSession::Release() const {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

const char* ASSession::Dialect() const { return conn_->Dialect(); }

ASDriverConnection& ASSessionAccess::Connection(ASSession& s) {
  if (s.lost_) {
    // Inside a transaction the work done so far is gone with the connection; carrying on
    // with a new one would commit half of it, so only a fresh transaction reconnects.
    if (s.depth_ > 0)
      throw AException("the connection to the database was lost in this transaction", 0, true);
    s.statements_->Clear();
    s.conn_->Reconnect();
    s.lost_ = false;
  }
  return *s.conn_;
}

ASRow& ASRowBuffer::Add(size_t columns) {
  if (count_ == rows_.size()) rows_.emplace_back();
  ASRow& r = rows_[count_++];
  r.resize(columns);
  if (count_ > filled_) filled_ = count_;
  return r;
}

void ASRowBuffer::Trim() {
  count_ = 0;
  if (rows_.size() > 16) {
    std::vector<ASRow>().swap(rows_);
  } else {
    for (size_t i = 0; i < filled_; ++i)
      for (ASBindValue& v : rows_[i])
        if (v.bytes.capacity() > 4096) std::string().swap(v.bytes);
  }
  filled_ = 0;
}

namespace {

// Notes a lost connection on the session before the exception travels on.
template <class F>
auto guarded(bool& lost, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const AException& e) {
    if (e.ConnectionLost()) lost = true;
    throw;
  }
}

bool explained(const std::string& sql) {
  return sql.compare(0, 7, "SELECT ") == 0 || sql.compare(0, 7, "UPDATE ") == 0 ||
         sql.compare(0, 7, "DELETE ") == 0;
}

// `maxRows`: the statement's own LIMIT, when it has one: the rows it can return are all read
// without asking the driver for one more to learn that there is none. `target`: the one row
// goes straight into value members.
long long execute(ASDriverStatement& st, const std::vector<ASBindValue>& params,
                  ASRowBuffer* rows,
                  unsigned long long maxRows = std::numeric_limits<unsigned long long>::max(),
                  ASRowTarget* target = nullptr) {
  try {
    if (target)
      st.ExecuteOne(params);
    else
      st.Execute(params);
    if (target) {
      if (st.Next()) {
        const size_t n = std::min(st.Columns(), target->count);
        for (size_t i = 0; i < n; ++i)
          if (ASValue* v = target->members[i]) st.GetInto(i, *v);
        target->filled = true;
      }
    } else if (rows) {
      const size_t n = st.Columns();
      for (unsigned long long read = 0; read < maxRows && st.Next(); ++read) {
        ASRow& row = rows->Add(n);
        for (size_t i = 0; i < n; ++i) st.Get(i, row[i]);
      }
    }
    long long changes = st.Changes();
    st.Reset();
    return changes;
  } catch (...) {
    try {
      st.Reset();
    } catch (...) {
    }
    throw;
  }
}

}  // namespace

ASShapeKey& ASSessionAccess::Key(ASSession& s) {
  Connection(s);
  s.statements_->key.Clear();
  return s.statements_->key;
}

ASPrepared* ASSessionAccess::Find(ASSession& s, bool& check) {
  ASSession::Statements& st = *s.statements_;
  check = st.checkShapes;
  return st.shapes.Find(st.key.Bytes());
}

namespace {

// The text of a statement written by `w` and where its parameters take their values.
void describe(const ASShapeKey& key, const ASSqlWriter& w, ASPrepared& p) {
  p.sql = ASResolveAliases(w.sql, w.bare);
  for (size_t i = 0; i < w.sources.size(); ++i) {
    const void* source = w.sources[i];
    ASPrepared::Param param;
    if (source == &ASLimitCountSource) {
      param.from = ASPrepared::Param::Count;
    } else if (source == &ASConstantSource) {
      param.from = ASPrepared::Param::Constant;
      param.value = w.values[i].i;
    } else if (source == &ASLimitOffsetSource) {
      param.from = ASPrepared::Param::Offset;
    } else {
      const long slot = key.SlotOf(source);
      if (slot < 0) throw AException("a value of the statement is missing from its shape: " + p.sql);
      param.slot = static_cast<unsigned>(slot);
    }
    p.params.push_back(param);
  }
}

}  // namespace

ASPrepared& ASSessionAccess::Remember(ASSession& s, const ASSqlWriter& w) {
  ASSession::Statements& st = *s.statements_;
  std::unique_ptr<ASPrepared> made(new ASPrepared);
  made->key = std::string(st.key.Bytes());
  describe(st.key, w, *made);
  st.MakeRoom();
  return st.shapes.Add(std::move(made));
}

void ASSessionAccess::Verify(ASSession& s, const ASPrepared& p, const ASSqlWriter& w) {
  ASPrepared again;
  describe(s.statements_->key, w, again);
  bool same = again.sql == p.sql && again.params.size() == p.params.size();
  for (size_t i = 0; same && i < p.params.size(); ++i)
    same = again.params[i].from == p.params[i].from && again.params[i].slot == p.params[i].slot &&
           again.params[i].value == p.params[i].value;
  if (!same)
    throw AException("two statements of one shape differ (objects of one table class with "
                     "different columns?): " + p.sql + " / " + again.sql);
}

ASPrepared* ASSessionAccess::StillKept(ASSession& s, const ASKeptShape& kept, unsigned version) {
  Connection(s);
  const ASSession::Statements& st = *s.statements_;
  const bool same = kept.epoch == st.epoch && kept.version == version;
  return same && !st.checkShapes ? kept.prepared : nullptr;
}

void ASSessionAccess::Keep(ASSession& s, ASKeptShape& kept, unsigned version, ASPrepared& p) {
  const ASSession::Statements& st = *s.statements_;
  if (kept.epoch == st.epoch && kept.version == version && kept.prepared != &p)
    throw AException("a kept statement changed its shape without a call that changes it: " +
                     p.sql);
  kept.epoch = st.epoch;
  kept.version = version;
  kept.prepared = &p;
  kept.slots = st.key.Slots();
}

long long ASSessionAccess::Run(ASSession& s, const ASFound& f, unsigned long long count,
                               unsigned long long offset, ASRowLimits* limits, ASRowBuffer* rows,
                               ASRowTarget* target) {
  ASSession::Statements& st = *s.statements_;
  ASPrepared& p = f.prepared;
  const std::vector<ASBindSlot>& slots = f.slots;
  std::vector<ASBindValue>& params = st.params;
  params.resize(p.params.size());
  unsigned long long maxRows = std::numeric_limits<unsigned long long>::max();
  for (size_t i = 0; i < p.params.size(); ++i) {
    const ASPrepared::Param& from = p.params[i];
    ASBindValue& v = params[i];
    if (from.from == ASPrepared::Param::Count) maxRows = count;
    if (from.from == ASPrepared::Param::Slot) {
      const ASBindSlot& slot = slots[from.slot];
      slot.BindInto(v);
      if (limits && slot.limited) limits->Add(*slot.limited, v);
    } else {
      v.kind = ASBindValue::Integer;
      v.i = from.from == ASPrepared::Param::Constant ? from.value
            : static_cast<long long>(from.from == ASPrepared::Param::Count ? count : offset);
      v.ref = nullptr;
    }
  }
  if (limits) limits->Check();
  ASDriverConnection& conn = *s.conn_;
  return guarded(s.lost_, [&]() -> long long {
    if (!p.statement) p.statement = &st.Prepared(conn, p.sql);
    if (s.plans_ && explained(p.sql)) s.plans_->push_back({p.sql, conn.Explain(p.sql, params)});
    return execute(*p.statement, params, rows, maxRows, target);
  });
}

long long ASSessionAccess::Run(ASSession& s, const std::string& sql,
                               const std::vector<ASBindValue>& params, ASRowBuffer* rows) {
  ASDriverConnection& conn = Connection(s);
  ASSession::Statements& st = *s.statements_;
  return guarded(s.lost_, [&]() -> long long {
    st.MakeRoom();
    ASDriverStatement& statement = st.Prepared(conn, sql);
    if (s.plans_ && explained(sql)) s.plans_->push_back({sql, conn.Explain(sql, params)});
    return execute(statement, params, rows);
  });
}

void ASSession::ExecuteSql(const std::string& sql) {
  ASDriverConnection& conn = ASSessionAccess::Connection(*this);
  guarded(lost_, [&] { conn.ExecuteSql(sql); });
}

void ASSession::Insert(ASDomain& domain) {
  if (!domain.HasValues())
    throw AException("table " + domain.TableName() + " has no value members to insert");
  ASShapeKey& k = ASSessionAccess::Key(*this);
  k.Tag(ASKeyTag::Insert);
  k.Table(domain);
  for (size_t i = 0; i < domain.Size(); ++i) {
    const ASAttribute& a = domain.Attribute(i);
    if (!domain.InInsert(i) || (a.Flags() & AS_COL_AUTOINC)) continue;
    // The table's class fixes its columns: their places say which ones are written.
    k.Number(i);
    // The value members stay put until the statement ran: bound without a copy.
    ASBindSlot slot;
    slot.how = ASBindSlot::Member;
    slot.type = a.Type();
    slot.member = &domain.Value(i);
    slot.limited = &a;
    k.Bind(slot);
  }
  ASPrepared& p = ASSessionAccess::Statement(*this, [&](ASSqlWriter& w) {
    if (k.Slots().empty()) {
      w << ASSessionAccess::Connection(*this).InsertDefaultsSql(domain.TableName());
      return;
    }
    w << ASKeySql(ASKeyTag::Insert) << domain.TableName() << " (";
    for (size_t i = 0; i < k.Slots().size(); ++i) w << (i ? ", " : "") << k.Slots()[i].limited->Name();
    w << ") VALUES (";
    for (size_t i = 0; i < k.Slots().size(); ++i) {
      if (i) w << ", ";
      w.Value(ASBindValue(), k.Slots()[i].member);
    }
    w << ")";
  });
  ASRowLimits limits(domain);
  ASSessionAccess::Run(*this, ASFound{p, k.Slots()}, 0, 0, &limits, nullptr);
}

bool ASSession::InsertNew(ASDomain& domain) {
  try {
    Insert(domain);
    return true;
  } catch (const AException& e) {
    if (e.Kind() == AS_ERROR_DUPLICATE_KEY) return false;
    throw;
  }
}

long long ASSession::GetInsertId() { return conn_->LastInsertId(); }

void ASSession::CreateTable(const ASDomain& domain) {
  ASDriverConnection& conn = ASSessionAccess::Connection(*this);
  for (const std::string& sql : conn.TableDdl(domain))
    guarded(lost_, [&] { conn.ExecuteSql(sql); });
}

ASTableLayout ASSession::DescribeTable(const std::string& table) {
  ASDriverConnection& conn = ASSessionAccess::Connection(*this);
  return guarded(lost_, [&] { return conn.DescribeTable(table); });
}

bool ASSession::Vacuum() {
  ASDriverConnection& conn = ASSessionAccess::Connection(*this);
  statements_->Clear();
  return guarded(lost_, [&] { return conn.Vacuum(); });
}

std::vector<std::string> ASSession::ReshapeTable(const ASDomain& domain) {
  ASDriverConnection& conn = ASSessionAccess::Connection(*this);
  const ASTableLayout have = DescribeTable(domain.TableName());
  if (!have.exists) {
    CreateTable(domain);
    return {domain.TableName() + ": table created"};
  }
  const ASTableLayout want = conn.IntendedLayout(domain);
  std::vector<std::string> changes = ASLayoutChanges(domain.TableName(), have, want);
  if (changes.empty()) return changes;
  // Statements prepared on the table as it was must not keep it busy while it changes.
  statements_->Clear();
  for (const std::string& sql : conn.ReshapeSql(domain, have, want))
    guarded(lost_, [&] { conn.ExecuteSql(sql); });
  return changes;
}

ASSchemaLock::ASSchemaLock(ASSession* session, const std::string& name, int timeoutSeconds)
    : session_(session), name_(name) {
  ASDriverConnection& conn = ASSessionAccess::Connection(*session_);
  if (!conn.LockName(name_, timeoutSeconds))
    throw AException("the lock '" + name_ + "' is held by another session for longer than " +
                     std::to_string(timeoutSeconds) + " seconds");
}

ASSchemaLock::~ASSchemaLock() {
  try {
    ASSessionAccess::Connection(*session_).UnlockName(name_);
  } catch (const AException&) {
    // A lost connection has given the lock back with it.
  }
}

void ASSessionAccess::CheckShapes(ASSession& s, bool on) { s.statements_->checkShapes = on; }

std::vector<ASDetail::ShapeText> ASSessionAccess::ShapeTexts(const ASSession& s) {
  std::vector<ASDetail::ShapeText> texts;
  s.statements_->shapes.ForEach([&](const ASPrepared& p) { texts.push_back({p.key, p.sql}); });
  return texts;
}

void ASDetail::CheckShapes(ASSession& s, bool on) { ASSessionAccess::CheckShapes(s, on); }

std::vector<ASDetail::ShapeText> ASDetail::ShapeTexts(const ASSession& s) {
  return ASSessionAccess::ShapeTexts(s);
}
