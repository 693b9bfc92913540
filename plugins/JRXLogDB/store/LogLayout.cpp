// Opening a log brings its layout up to date in place.
//
// Several processes may open the same old log at once: the first takes the layout lock
// (MariaDB: a named lock; SQLite: the write transaction, which holds the file) and the
// others find the work done when they get it. Every step looks at what the database holds
// before it changes anything, and the version is written last: a process that dies halfway
// (on MariaDB, where each table changes in a statement of its own) leaves steps that the
// next opening finds done and the rest still to do. On SQLite the whole change is one
// transaction.
#include "store/LogLayout.h"

#include <map>
#include <utility>

#include "JRXLogDBLocal.h"
#include "JRXLogMaintenance.h"
#include "JRXRdbms.h"
#include "store/LogTables.h"

namespace JRX {

namespace {

const char* const kPart = "log";

// The version recorded, 0 when none is.
int storedVersion(ASSession* s) {
  if (!s->DescribeTable("jrxlog_layout").exists) return 0;
  jrxlog_layout t;
  ASCursor c(s);
  c.Project() << t->version;
  c.Set(t->part == kPart);
  return c.Fetch() ? static_cast<int>(t.version.Int()) : 0;
}

void refuseNewer(int found) {
  if (found > kLogLayoutVersion)
    throw AException("the log's layout is version " + std::to_string(found) +
                     ", newer than this build knows (" + std::to_string(kLogLayoutVersion) +
                     "); use a newer build with this database");
}

void recordVersion(ASSession* s, std::vector<std::string>& changes) {
  for (std::string& c : s->ReshapeTable(jrxlog_layout_domain())) changes.push_back(std::move(c));
  jrxlog_layout t;
  t.part = kPart;
  t.version = kLogLayoutVersion;
  if (s->InsertNew(t)) return;
  jrxlog_layout u;
  ASUpdater up(u);
  up << u->version.Set(ASOperand(kLogLayoutVersion));
  up.Where(u->part == kPart);
  up.Execute(s);
}

// The operation links of environment row `env`, by (operation, role).
std::map<std::pair<long long, std::string>, std::string> linksOf(ASSession* s, long long env) {
  std::map<std::pair<long long, std::string>, std::string> links;
  op_log_env l;
  ASCursor c(s);
  c.Project() << l->op_id << l->role << l->is_default;
  c.Set(l->env_id == env);
  while (c.Fetch())
    links.emplace(std::make_pair(l.op_id.Int(), l.role.Bytes()), l.is_default.Bytes());
  return links;
}

// The links of environment row `from` now name `to`. An operation linked to both under one
// role keeps one link (not a stand-in if either was not); event links may repeat anyway.
// Both rows' links are read whole and compared here, and the rest move in one statement:
// each link looked up by itself would be a statement per link, and on a log of the first
// layout SQLite looks a link up through the environment index, among every link of the
// environment, which made the merge grow with the square of the log.
void repointEnvironment(ASSession* s, long long from, long long to) {
  const auto kept = linksOf(s, to);
  for (const auto& link : linksOf(s, from)) {
    auto both = kept.find(link.first);
    if (both == kept.end()) continue;
    const long long op = link.first.first;
    const std::string& role = link.first.second;
    op_log_env d;
    ASDeleter(d).Where(d->op_id == op && d->role == role && d->env_id == from).Execute(s);
    if (both->second == "Y" && link.second != "Y") {
      op_log_env u;
      ASUpdater up(u);
      up << u->is_default.Set(ASOperand("N"));
      up.Where(u->op_id == op && u->role == role && u->env_id == to);
      up.Execute(s);
    }
  }
  {
    op_log_env u;
    ASUpdater up(u);
    up << u->env_id.Set(ASOperand(to));
    up.Where(u->env_id == from);
    up.Execute(s);
  }
  events_log_env e;
  ASUpdater up(e);
  up << e->env_id.Set(ASOperand(to));
  up.Where(e->env_id == from);
  up.Execute(s);
}

// Logs made before the environment key was unique may hold one environment in several
// rows; the oldest row stays, the others' links move to it and they go. Titles are
// compared whole, here rather than in the database, which sorts long texts by a prefix.
void mergeDuplicateEnvironments(ASSession* s, std::vector<std::string>& changes) {
  std::map<std::pair<std::string, std::string>, long long> first;
  std::vector<std::pair<long long, long long>> merges;  // duplicate, kept
  {
    env_log e;
    ASCursor c(s);
    c.Project() << e->id << e->eid << e->title;
    c.Order(e->id);
    while (c.Fetch()) {
      auto key = std::make_pair(e.eid.Bytes(), e.title.Bytes());
      auto it = first.emplace(key, e.id.Int()).first;
      if (it->second != e.id.Int()) merges.emplace_back(e.id.Int(), it->second);
    }
  }
  for (const auto& m : merges) {
    repointEnvironment(s, m.first, m.second);
    env_log d;
    ASDeleter(d).Where(d->id == m.first).Execute(s);
  }
  if (!merges.empty())
    changes.push_back("env_log: " + std::to_string(merges.size()) +
                      " duplicate environment row" + (merges.size() == 1 ? "" : "s") +
                      " merged, their links re-pointed");
}

// A change the database refuses (a row the new layout cannot hold) names its table.
void reshape(ASSession* s, const ASDomain& d, std::vector<std::string>& changes) {
  try {
    for (std::string& c : s->ReshapeTable(d)) changes.push_back(std::move(c));
  } catch (const AException& e) {
    throw AException(d.TableName() + " cannot be brought to this build's layout: " +
                         e.Text().str(),
                     e.Code(), e.ConnectionLost(), e.Kind());
  }
}

}  // namespace

LayoutReport upgradeLogLayout(ASSession* s, bool recheck) {
  LayoutReport report;
  // Up to date: no lock, one look at the catalogue and one read.
  report.found = storedVersion(s);
  refuseNewer(report.found);
  if (report.found == kLogLayoutVersion && !recheck) return report;

  ASSchemaLock lock(s, "jrxlog_layout");
  ASTransaction tran(s, AS_TRAN_WRITE);
  report.found = storedVersion(s);
  refuseNewer(report.found);
  if (report.found == kLogLayoutVersion && !recheck) return report;

  const ASTableLayout envs = s->DescribeTable("env_log");
  const ASIndexLayout* key = envs.Index("env_log_eid_title");
  const bool merge = envs.exists && !(key && key->unique);
  // The merge goes before env_log is given its unique key, and after op_log_env has its
  // primary key: a link the merge looks up by (operation, role, environment) is then found
  // by that key whatever the log's size, where the first layout had only indexes that lead
  // with two of the three.
  for (const auto& table : logTables()) {
    if (merge && table->TableName() == env_log_domain().TableName())
      mergeDuplicateEnvironments(s, report.changes);
    reshape(s, *table, report.changes);
  }
  recordVersion(s, report.changes);
  tran.Commit();
  return report;
}

}  // namespace JRX

namespace JRX {

JRXLayoutReport openLogLayout(bool recheck) {
  LayoutReport r = upgradeLogLayout(JRXDatabase::get()->Session(), recheck);
  JRXLayoutReport out;
  out.found = r.found;
  out.now = r.now;
  out.changes = std::move(r.changes);
  return out;
}

}  // namespace JRX
