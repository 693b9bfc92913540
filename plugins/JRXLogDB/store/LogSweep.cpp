// Batched removal and the sweep.
//
// Each batch is a transaction of its own on the calling thread, replayed when other
// sessions' work got in its way (JRXRetry.h), and sized by time as well as by rows
// (BatchPace): a writer waits behind one short batch at most, and a cluster replicates
// batches, not the whole removal at once.
//
// Why the sweep never takes a row that is still wanted:
//
// - Children of an operation or event. A writer inserts the parent row before its children,
//   in the same transaction, and nothing but compaction deletes parents; keys are never
//   handed out again (auto-increment). A committed child whose parent is gone therefore
//   belongs to a removed parent for good. The sweep finds candidates by a plain read and
//   then reads each parent again with a locking read, which waits for a transaction that is
//   inserting or deleting that parent right now and sees its outcome; only when that read
//   finds nothing are the parent's children deleted. Children not yet committed are not
//   seen by the candidate read at all.
// - Environment rows. A writer looks its environment row up (or inserts it) and links it
//   later in the same transaction. Its lookup takes a shared lock on the row's entry in the
//   (eid, title) key, held to its commit (LogsEnvInfo.cpp); the sweep locks a candidate's
//   entry there exclusively, passing over one that is locked, then checks the links again
//   under its lock. So either the writer got its lock first, and the sweep leaves the row
//   alone (skipped, or its link committed by the time the sweep checks), or the sweep got it
//   first, and the writer's lookup waits for the sweep's commit, finds no row and inserts a
//   new one. On SQLite every write transaction holds the whole file, so a writer's lookup
//   and link and a sweep's batch never interleave. Row locks do not span the nodes of a
//   cluster: there the sweep is safe only beside writers of the same node.
#include "JRXLogMaintenance.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "JRXLog.h"
#include "JRXRdbms.h"
#include "JRXRetry.h"
#include "store/BatchPace.h"
#include "store/CompactionRules.h"
#include "store/LogTables.h"

namespace JRX {

namespace {

const long long kNoEnd = std::numeric_limits<long long>::max();

typedef JRXRemovedRows RemovedRows;

// What one batch removed from which table, told once its transaction committed.
typedef std::vector<std::pair<const char*, long long>> Removals;

// After a batch the connection lets go for at least this long, and a quarter of the batch's
// own time when that is more.
const std::chrono::milliseconds kLetGo(5);

// Runs batches until one tells that it was the last: each (given the key it starts after
// and the number of rows to take, answering the key it ended at, or kNoEnd) in a
// transaction of its own. Between two batches the connection lets go for a while: SQLite
// keeps no queue of those waiting for its write lock, and a removal that began its next
// batch the moment it committed the last would find the lock free before any waiting
// writer looked again, batch after batch. A writer's call takes well under a millisecond,
// so while the removal lets go, writers get through what they had waiting and more.
template <class Batch>
void inBatches(unsigned most, const RemovedRows& removed, Batch&& batch) {
  BatchPace pace(most);
  long long after = 0;
  while (after != kNoEnd) {
    Removals done;
    const auto began = std::chrono::steady_clock::now();
    after = retryRdbms([&] {
      done.clear();
      JRXRdbmsTran tran;
      long long end = batch(*tran, after, pace.rows(), done);
      tran.commit();
      return end;
    });
    const auto held = std::chrono::steady_clock::now() - began;
    pace.took(held);
    for (const auto& d : done)
      if (d.second) removed(d.first, d.second);
    if (after != kNoEnd)
      std::this_thread::sleep_for(
          std::max<std::chrono::steady_clock::duration>(held / 4, kLetGo));
  }
}

// The key of the `batch`-th row of `table` past `after` in the order of `key` through
// `index` (kNoEnd: fewer rows are left), among rows meeting `cond`.
template <class Table>
long long batchEnd(ASSession* s, Table& t, const ASAttribute& key, ASValue& value,
                   const char* index, const ASComparison& cond, long long after, unsigned batch) {
  ASCursor c(s);
  c.Project() << key;
  c.Set(key > after && cond);
  c.UseIndex(t, index);
  c.Order(key).Limit(1, std::max(batch, 1u) - 1);
  return c.Fetch() ? value.Int().Value() : kNoEnd;
}

ASComparison upTo(const ASAttribute& key, long long end) {
  return end == kNoEnd ? ASComparison() : key <= end;
}

// The rows of Child whose parent is gone. `childKey`/`childValue` name the child's column
// that holds the parent's key, read through `childIndex` (which starts with it).
template <class Child, class CD, class Parent, class PD>
void sweepChildren(unsigned batch, const char* childIndex, ASAttribute CD::*childKey,
                   ASInt Child::*childValue, ASAttribute PD::*parentKey,
                   const RemovedRows& removed) {
  inBatches(batch, removed, [&](ASSession* s, long long after, unsigned take, Removals& done) {
    Child c;
    const long long end =
        batchEnd(s, c, c.*childKey, c.*childValue, childIndex, ASComparison(), after, take);
    std::set<long long> gone;
    {
      Child k;
      Parent p;
      ASFilter probe;
      probe.Project() << p.*parentKey;
      probe.Set((p.*parentKey) == (k.*childKey)).UseIndex(p, ASPrimaryKey);
      ASCursor cand(s);
      cand.Project() << k.*childKey;
      cand.Set((k.*childKey) > after && upTo(k.*childKey, end) && !probe.Exists({&k}));
      cand.UseIndex(k, childIndex);
      while (cand.Fetch()) gone.insert((k.*childValue).Int());
    }
    long long rows = 0;
    for (long long key : gone) {
      Parent p;
      ASCursor again(s);
      again.Project() << p.*parentKey;
      again.Set((p.*parentKey) == key).ForUpdate();
      if (again.Fetch()) continue;
      again.Close();
      Child d;
      rows += ASDeleter(d).Where((d.*childKey) == key).Execute(s);
    }
    done.emplace_back(c.TableLiteral(), rows);
    return end;
  });
}

// Whether anything links to the environment row `e`, as a condition on it. Events link
// their environments in the roles "S" and "O" only, which the role index is read by: one
// probe per role, each a lookup of (role, env_id). With both roles in one probe MariaDB
// reads the index by role alone, every link of a role for each environment row, which
// for a log of weeks took a minute per sweep.
ASComparison linked(env_log& e, op_log_env& l, events_log_env& v, events_log_env& w) {
  ASFilter ops;
  ops.Project() << l->env_id;
  ops.Set(l->env_id == e->id).UseIndex(l, "op_log_env_env");
  ASFilter sources;
  sources.Project() << v->env_id;
  sources.Set(v->role == "S" && v->env_id == e->id).UseIndex(v, "events_log_env_role");
  ASFilter operands;
  operands.Project() << w->env_id;
  operands.Set(w->role == "O" && w->env_id == e->id).UseIndex(w, "events_log_env_role");
  return ops.Exists({&e}) || sources.Exists({&e}) || operands.Exists({&e});
}

void sweepEnvironments(unsigned batch, const RemovedRows& removed) {
  inBatches(batch, removed, [&](ASSession* s, long long after, unsigned take, Removals& done) {
    env_log e;
    const long long end = batchEnd(s, e, e->id, e.id, ASPrimaryKey, ASComparison(), after, take);
    struct Unlinked {
      long long id;
      std::string eid, title;
    };
    std::vector<Unlinked> unlinked;
    {
      env_log k;
      op_log_env l;
      events_log_env v, w;
      ASCursor c(s);
      c.Project() << k->id << k->eid << k->title;
      c.Set(k->id > after && upTo(k->id, end) && !linked(k, l, v, w));
      c.UseIndex(k, ASPrimaryKey);
      while (c.Fetch()) unlinked.push_back({k.id.Int(), k.eid.Bytes(), k.title.Bytes()});
    }
    long long rows = 0;
    for (const Unlinked& u : unlinked) {
      const long long id = u.id;
      if (u.eid.size() != 16) continue;  // not a row a writer could have found
      {
        // Through the key writers look rows up by: a writer's shared lock is on that index's
        // entry, which a lock taken through the primary key alone would not pass over.
        env_log x;
        ASCursor lock(s);
        lock.Project() << x->id;
        lock.Set(x->eid == Guid::FromBytes(u.eid.data(), u.eid.size()) && x->title == u.title &&
                 x->id == id);
        lock.UseIndex(x, "env_log_eid_title").ForUpdateSkipLocked();
        if (!lock.Fetch()) continue;  // in a writer's hands, or gone
      }
      {
        env_log k;
        op_log_env l;
        events_log_env v, w;
        ASCursor still(s);
        still.Project() << k->id;
        still.Set(k->id == id && !linked(k, l, v, w));
        if (!still.Fetch()) continue;
      }
      env_log d;
      rows += ASDeleter(d).Where(d->id == id).Execute(s);
    }
    done.emplace_back(e.TableLiteral(), rows);
    return end;
  });
}

}  // namespace

void compactOpsInBatches(int age, unsigned batch, const RemovedRows& removed) {
  // Recorded as the compact service records itself: whoever reads the library's records
  // learns of a compaction whichever path ran it.
  Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", __LINE__, "compact", __PRETTY_FUNCTION__)
      .put(1, "compact %d", age);
  const time_t now = time(nullptr);
  inBatches(batch, removed, [&](ASSession* s, long long after, unsigned take, Removals& done) {
    op_log t;
    const long long end =
        batchEnd(s, t, t->op_id, t.op_id, ASPrimaryKey, compactedOps(t, age, now), after, take);
    op_log d;
    done.emplace_back(
        d.TableLiteral(),
        ASDeleter(d)
            .Where(d->op_id > after && upTo(d->op_id, end) && compactedOps(d, age, now))
            .Execute(s));
    return end;
  });
}

void compactEventsInBatches(int keep, unsigned batch, const RemovedRows& removed) {
  long long threshold = 0;
  bool any = retryRdbms([&] {
    JRXRdbmsTran tran(AS_TRAN_READ);
    return compactedEventsThrough(*tran, keep, threshold);
  });
  if (!any) return;
  inBatches(batch, removed, [&](ASSession* s, long long after, unsigned take, Removals& done) {
    events_log t;
    long long end =
        batchEnd(s, t, t->event_id, t.event_id, ASPrimaryKey, t->event_id <= threshold, after,
                 take);
    events_log d;
    done.emplace_back(d.TableLiteral(),
                      ASDeleter(d)
                          .Where(d->event_id > after && upTo(d->event_id, end) &&
                                 d->event_id <= threshold)
                          .Execute(s));
    return end;
  });
}

void sweepLog(unsigned batch, const RemovedRows& removed) {
  sweepChildren<op_log_data, op_log_data_domain, op_log, op_log_domain>(
      batch, "op_log_data_op", &op_log_data_domain::op_id, &op_log_data::op_id,
      &op_log_domain::op_id, removed);
  sweepChildren<op_log_env, op_log_env_domain, op_log, op_log_domain>(
      batch, ASPrimaryKey, &op_log_env_domain::op_id, &op_log_env::op_id, &op_log_domain::op_id,
      removed);
  sweepChildren<op_log_task, op_log_task_domain, op_log, op_log_domain>(
      batch, ASPrimaryKey, &op_log_task_domain::op_id, &op_log_task::op_id, &op_log_domain::op_id,
      removed);
  sweepChildren<events_log_env, events_log_env_domain, events_log, events_log_domain>(
      batch, "events_log_env_link", &events_log_env_domain::event_id, &events_log_env::event_id,
      &events_log_domain::event_id, removed);
  sweepChildren<events_log_resource, events_log_resource_domain, events_log, events_log_domain>(
      batch, ASPrimaryKey, &events_log_resource_domain::event_id, &events_log_resource::event_id,
      &events_log_domain::event_id, removed);
  sweepChildren<events_log_status, events_log_status_domain, events_log, events_log_domain>(
      batch, ASPrimaryKey, &events_log_status_domain::event_id, &events_log_status::event_id,
      &events_log_domain::event_id, removed);
  sweepChildren<events_log_audit, events_log_audit_domain, events_log, events_log_domain>(
      batch, ASPrimaryKey, &events_log_audit_domain::event_id, &events_log_audit::event_id,
      &events_log_domain::event_id, removed);
  // Last: the links removed above may have been the only ones of an environment.
  sweepEnvironments(batch, removed);
}

bool vacuumLog() { return JRXDatabase::get()->Session()->Vacuum(); }

}  // namespace JRX
