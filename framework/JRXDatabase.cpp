#include <atomic>
#include <mutex>

#include "ASThreadCache.h"
#include "FrameworkState.h"
#include "FrameworkTables.h"
#include "JRXEnvDirectory.h"
#include "JRXLog.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "JRXResultCodes.h"

namespace JRX {

namespace detail {
void loadEnvDirectory(ASSession* session);
}

namespace {

const char kLocalEidSetting[] = "local_eid";

std::mutex& dbMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<ASDatabase>& current() {
  static std::shared_ptr<ASDatabase> db;
  return db;
}

// Every transaction needs the open database. A thread keeps the one it used last and takes
// it again while the database has been neither opened nor closed since (a count read without
// the lock, which all threads would otherwise take for every transaction); else, and never
// inside one of its own transactions, it looks again under the lock. So a thread's nested
// transactions stay on the database of its outermost one, and each thread lets a closed
// database go at its next transaction or when it ends (the closing thread at once).
std::atomic<unsigned long> openings{0};
struct ThreadDatabase {
  unsigned long seen;  // `openings` when `db` was taken
  ASDatabase* db;
  int transactions;  // the thread's open JRXRdbmsTran
};
// Holds the thread's database; when the thread ends, what it held is gone.
struct HeldDatabase {
  std::shared_ptr<ASDatabase> db;
  void ThreadEnds(ThreadDatabase& t) {
    t.db = nullptr;
    t.seen = openings.load(std::memory_order_acquire);
  }
};
using ThreadDatabases = ASThreadCache<ThreadDatabase, HeldDatabase>;

ThreadDatabase& threadDatabase() {
  ThreadDatabase& t = ThreadDatabases::Mine().data;
  if (t.transactions == 0 && t.seen != openings.load(std::memory_order_acquire)) {
    HeldDatabase* held = ThreadDatabases::Owned();
    if (!held) throw AException("no database for a thread that is ending");
    std::lock_guard<std::mutex> lock(dbMutex());
    held->db = current();
    t.db = held->db.get();
    t.seen = openings.load(std::memory_order_relaxed);
  }
  if (!t.db) throw AException("no database is open");
  return t;
}

bool storedLocalEid(ASSession* s, JRXEID& eid) {
  jrx_config c;
  ASCursor cur(s);
  cur.Project() << c->value;
  cur.Set(c->name == kLocalEidSetting);
  if (!cur.Fetch()) return false;
  if (eid.fromString(c.value.Str().c_str()) == 0 && eid.isValid()) return true;
  throw AException("the stored local environment identifier is not a GUID: " +
                   c.value.Str().str());
}

// The identifier stored at creation; made and stored now when the database is new. Of
// several processes creating the database at once, the first to store one gives it to all.
JRXEID localEidOf(ASSession* s) {
  JRXEID eid;
  if (storedLocalEid(s, eid)) return eid;
  eid = JRXGUID::generate();
  jrx_config c;
  c.name = std::string(kLocalEidSetting);
  c.value = eid.toString();
  if (s->InsertNew(c)) return eid;
  if (storedLocalEid(s, eid)) return eid;
  throw AException("the stored local environment identifier cannot be read");
}

}  // namespace

void JRXDatabase::open(const std::string& url) {
  std::shared_ptr<ASDatabase> db = ASDatabase::Open(url);
  ASSession* s = db->Session();
  JRXEID local;
  {
    ASTransaction tran(s);
    for (const auto& table : tables()) s->CreateTable(*table);
    local = localEidOf(s);
    tran.Commit();
  }
  {
    std::lock_guard<std::mutex> lock(dbMutex());
    current() = db;
    openings.fetch_add(1, std::memory_order_release);
  }
  detail::setStoredLocalEID(local);
  detail::loadEnvDirectory(s);
}

std::vector<std::unique_ptr<ASDomain>> JRXDatabase::tables() {
  std::vector<std::unique_ptr<ASDomain>> list;
  list.emplace_back(new jrx_environment_domain);
  list.emplace_back(new jrx_config_domain);
  return list;
}

void JRXDatabase::close() {
  {
    std::lock_guard<std::mutex> lock(dbMutex());
    current().reset();
    openings.fetch_add(1, std::memory_order_release);
  }
  ThreadDatabase& t = ThreadDatabases::Mine().data;
  if (t.transactions == 0) {
    t.db = nullptr;
    if (HeldDatabase* held = ThreadDatabases::Owned()) held->db.reset();
  }
  detail::setStoredLocalEID(JRXEID());
}

bool JRXDatabase::isOpen() {
  std::lock_guard<std::mutex> lock(dbMutex());
  return current() != nullptr;
}

std::shared_ptr<ASDatabase> JRXDatabase::get() {
  std::lock_guard<std::mutex> lock(dbMutex());
  if (!current()) throw AException("no database is open");
  return current();
}

JRXRdbmsTran::JRXRdbmsTran(ASTransactionMode mode) : thread_(&threadDatabase()) {
  ThreadDatabase& t = *static_cast<ThreadDatabase*>(thread_);
  session_ = t.db->Session();
  tran_.emplace(session_.get(), mode);
  ++t.transactions;
}

JRXRdbmsTran::~JRXRdbmsTran() {
  try {
    tran_.reset();
  } catch (const std::exception& e) {
    // A rollback on a connection that is already gone fails; the server has dropped the
    // transaction anyway.
    Log2("JRXFramework", __FILE__, __LINE__, "~JRXRdbmsTran", __PRETTY_FUNCTION__)
        .put(1, "rollback failed: %s", e.what());
  }
  --static_cast<ThreadDatabase*>(thread_)->transactions;
}

void JRXRdbmsTran::commit() { tran_->Commit(); }

int onRdbmsError(const AException& e) {
  detail::noteRdbmsFailure(e);
  Log2("JRXFramework", __FILE__, __LINE__, "onRdbmsError", __PRETTY_FUNCTION__)
      .put(1, "database failure (%d%s): %s", e.Code(), e.ConnectionLost() ? ", connection lost" : "",
           e.Text().c_str());
  if (e.ConnectionLost()) {
    std::shared_ptr<ASDatabase> db;
    {
      std::lock_guard<std::mutex> lock(dbMutex());
      db = current();
    }
    if (db) db->DropSession();
  }
  return kDatabaseFailure;
}

}  // namespace JRX
