#include <mutex>

#include "FrameworkState.h"
#include "FrameworkTables.h"
#include "JRXEnvDirectory.h"
#include "JRXLog.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"

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
    s->CreateTable(jrx_environment());
    s->CreateTable(jrx_config());
    local = localEidOf(s);
    tran.Commit();
  }
  {
    std::lock_guard<std::mutex> lock(dbMutex());
    current() = db;
  }
  detail::setStoredLocalEID(local);
  detail::loadEnvDirectory(s);
}

void JRXDatabase::close() {
  {
    std::lock_guard<std::mutex> lock(dbMutex());
    current().reset();
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

JRXRdbmsTran::JRXRdbmsTran(ASTransactionMode mode)
    : db_(JRXDatabase::get()), session_(db_->Session()) {
  tran_.emplace(session_.get(), mode);
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
  return 3101;
}

}  // namespace JRX
