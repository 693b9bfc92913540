#include <unordered_map>

#include "ASSessionAccess.h"
#include "ASSqlText.h"

// Prepared statements of this connection, reused whenever the same SQL text runs again.
struct ASSession::Statements {
  static constexpr size_t kMax = 256;
  std::unordered_map<std::string, std::unique_ptr<ASDriverStatement>> bySql;
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
    s.statements_->bySql.clear();
    s.conn_->Reconnect();
    s.lost_ = false;
  }
  return *s.conn_;
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

}  // namespace

long long ASSessionAccess::Run(ASSession& s, const std::string& sql,
                               const std::vector<ASBindValue>& params, std::vector<ASRow>* rows) {
  ASDriverConnection& conn = Connection(s);
  auto& cache = s.statements_->bySql;
  return guarded(s.lost_, [&]() -> long long {
    auto it = cache.find(sql);
    if (it == cache.end()) {
      if (cache.size() >= ASSession::Statements::kMax) cache.clear();
      it = cache.emplace(sql, conn.Prepare(sql)).first;
    }
    ASDriverStatement& st = *it->second;
    if (s.plans_ && (sql.compare(0, 7, "SELECT ") == 0 || sql.compare(0, 7, "UPDATE ") == 0 ||
                     sql.compare(0, 7, "DELETE ") == 0))
      s.plans_->push_back({sql, conn.Explain(sql, params)});
    try {
      st.Execute(params);
      if (rows) {
        const size_t n = st.Columns();
        while (st.Next()) {
          rows->emplace_back(n);
          for (size_t i = 0; i < n; ++i) st.Get(i, rows->back()[i]);
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
  });
}

void ASSession::ExecuteSql(const std::string& sql) {
  ASDriverConnection& conn = ASSessionAccess::Connection(*this);
  guarded(lost_, [&] { conn.ExecuteSql(sql); });
}

void ASSession::Insert(ASDomain& domain) {
  if (!domain.HasValues())
    throw AException("table " + domain.TableName() + " has no value members to insert");
  std::string sql = "INSERT INTO " + domain.TableName() + " (";
  sql.reserve(256);
  std::string marks;
  marks.reserve(3 * domain.Size());
  std::vector<ASBindValue> values;
  values.reserve(domain.Size());
  for (size_t i = 0; i < domain.Size(); ++i) {
    const ASAttribute& a = domain.Attribute(i);
    if (!domain.InInsert(i) || (a.Flags() & AS_COL_AUTOINC)) continue;
    if (!values.empty()) {
      sql += ", ";
      marks += ", ";
    }
    sql += a.Name();
    marks += "?";
    // The value members stay put until the statement ran: bound without a copy.
    values.push_back(ASBindRefOf(domain.Value(i), a.Type()));
  }
  if (values.empty())
    sql = ASSessionAccess::Connection(*this).InsertDefaultsSql(domain.TableName());
  else
    sql += ") VALUES (" + marks + ")";
  ASSessionAccess::Run(*this, sql, values, nullptr);
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
