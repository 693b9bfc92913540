#include "JRXEnvDirectory.h"

#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>

#include "FrameworkTables.h"
#include "JRXConversions.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"

namespace JRX {

namespace {

struct Directory {
  std::mutex m;
  std::map<JRXEID, std::pair<std::string, std::string>> entries;
};

Directory& directory() {
  static Directory d;
  return d;
}

std::string hostName() {
  char buf[256] = {0};
  if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

}  // namespace

namespace detail {

void loadEnvDirectory(ASSession* session) {
  std::map<JRXEID, std::pair<std::string, std::string>> loaded;
  jrx_environment e;
  ASCursor cur(session);
  cur.Project() << e->eid << e->type << e->title;
  while (cur.Fetch())
    loaded[JRXEID(rdbmsGuidToGuid(e.eid.Guid()))] = {e.type.Str().str(), e.title.Str().str()};
  Directory& d = directory();
  std::lock_guard<std::mutex> lock(d.m);
  // The open database is the directory: entries of a database opened before are forgotten.
  d.entries = std::move(loaded);
}

}  // namespace detail

void JRXEnvDirectory::put(const JRXEID& eid, const std::string& type, const std::string& title) {
  // Stored first, so that a failing database leaves memory and table alike.
  if (JRXDatabase::isOpen()) {
    JRXRdbmsTran tran;
    jrx_environment e;
    Guid g = guidToRDBMSGuid(eid);
    auto update = [&] {
      ASUpdater u(e);
      u << e->type.Set(ASOperand(type)) << e->title.Set(ASOperand(title));
      return u.Where(e->eid == g).Execute(*tran) > 0;
    };
    if (!update()) {
      e.eid = g;
      e.type = type;
      e.title = title;
      // A writer that stored the same identifier since the update: overwrite its entry.
      if (!tran->InsertNew(e) && !update())
        throw AException("jrx_environment: the row that holds the identifier cannot be read");
    }
    tran.commit();
  }
  Directory& d = directory();
  std::lock_guard<std::mutex> lock(d.m);
  d.entries[eid] = {type, title};
}

bool JRXEnvDirectory::lookup(const JRXEID& eid, std::string& type, std::string& title) {
  {
    Directory& d = directory();
    std::lock_guard<std::mutex> lock(d.m);
    auto it = d.entries.find(eid);
    if (it != d.entries.end()) {
      type = it->second.first;
      title = it->second.second;
      return true;
    }
  }
  if (eid.isValid() && eid == JRXConfiguration::getLocalEID()) {
    type = "node";
    title = hostName();
    return true;
  }
  return false;
}

void JRXEnvDirectory::clear() {
  Directory& d = directory();
  std::lock_guard<std::mutex> lock(d.m);
  d.entries.clear();
}

}  // namespace JRX
