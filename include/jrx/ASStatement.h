// Statements: selects (ASFilter without a session, ASCursor on one), updates and deletes.
//
//     op_log t;
//     ASCursor c(session);
//     c.Project() << t->op_id << t->status;
//     c.Set(t->id == "req-1" && !(t->status == 4));
//     c.Order(-t->time).Limit(10, 0);
//     while (c.Fetch()) use(t.op_id.Int(), t.status.Int());
//
// Tables are those named by the projection, the condition and the order; they are joined
// through conditions only. A statement's SQL text depends only on its shape (tables,
// columns, operators, hints), never on its values, which are bound as parameters.
//
// Thread safety: a statement object is used by one thread, the one that made the table
// objects and conditions it names (see ASCondition.h).
// REQUIRES: the table objects a statement names outlive it; a cursor's session outlives it.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include <boost/container/small_vector.hpp>

#include "ASCondition.h"
#include "ASDomain.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

class ASSession;
struct ASCursorState;
struct ASKeptShape;

// The columns a select reads, in order; a fetched row goes into their value members.
class ASProjection {
 public:
  // A column; a sub-select attribute throws AException.
  ASProjection& operator<<(const ASAttribute& a) {
    if (!a.Domain()) NotAColumn();
    attrs_.push_back(&a);
    return *this;
  }
  ASProjection& Distinct() { distinct_ = true; return *this; }
  bool IsDistinct() const { return distinct_; }
  const boost::container::small_vector<const ASAttribute*, 16>& Attributes() const {
    return attrs_;
  }

 private:
  [[noreturn]] static void NotAColumn();
  boost::container::small_vector<const ASAttribute*, 16> attrs_;
  bool distinct_ = false;
};

// A select without a session: a sub-select, or the base of a cursor.
class ASFilter {
 public:
  ASFilter();
  ASFilter(const ASFilter&) = default;
  ASFilter& operator=(const ASFilter&) = default;
  virtual ~ASFilter();
  ASProjection& Project() { ++version_; return proj_; }
  ASFilter& Set(const ASComparison& c);
  ASFilter& Order(const ASOrder& o);  // several calls add further keys
  ASFilter& Limit(unsigned long long count, unsigned long long offset = 0);
  // Plan hints, for statements whose good plan the database cannot be trusted to find on
  // every log: `table` is read through the named index only (several calls: several
  // tables), and the tables listed are joined in that order, the first one driving. A
  // sub-select made by Query() carries neither.
  // ASPrimaryKey names the table's primary key.
  ASFilter& UseIndex(const ASDomain& table, const std::string& index);
  ASFilter& UseIndex(const ASDomain& table, const char* index) {
    ++version_;
    hints_.emplace_back(&table, index);
    return *this;
  }
  ASFilter& JoinOrder(std::initializer_list<const ASDomain*> tables);
  // The rows read stay locked against other writers until the transaction ends, so that
  // writers of the same rows take turns from this select on (MariaDB: FOR UPDATE; a SQLite
  // write transaction holds the whole file already). A sub-select made by Query() locks
  // nothing.
  ASFilter& ForUpdate() { return Locking(kLockUpdate); }
  // The rows read are locked against writers until the transaction ends, but not against
  // other readers that share them (MariaDB: LOCK IN SHARE MODE; nothing on SQLite).
  ASFilter& ForShare() { return Locking(kLockShare); }
  // As ForUpdate(), but rows another transaction has locked are passed over rather than
  // waited for (MariaDB: FOR UPDATE SKIP LOCKED): for upkeep that leaves rows in use alone.
  ASFilter& ForUpdateSkipLocked() { return Locking(kLockSkipLocked); }
  enum RowLock : char { kLockNone = 0, kLockUpdate = 'u', kLockShare = 's', kLockSkipLocked = 'k' };
  ASAttribute Select() const;  // this select as a sub-select attribute
  Str Query() const;           // SQL text of this select (values attached)
  // True where this select finds a row, as a condition of an enclosing select. The tables
  // in `outer` are the enclosing select's: comparing their columns in this one's condition
  // ties it to each of their rows, which the database answers by one probe per row. Unlike
  // a Query() text, it keeps its plan hints, which the probe needs: otherwise a database
  // may read the whole sub-select once instead, however few rows the enclosing one reads.
  // The table objects named stay the caller's, as in any select.
  ASComparison Exists(std::initializer_list<const ASDomain*> outer = {}) const;

  const ASProjection& Projection() const { return proj_; }
  const ASComparison& Condition() const { return cond_; }
  const boost::container::small_vector<ASOrder, 4>& Orders() const { return orders_; }
  bool HasLimit() const { return hasLimit_; }
  unsigned long long LimitCount() const { return limit_; }
  unsigned long long LimitOffset() const { return offset_; }
  using IndexHint = std::pair<const ASDomain*, std::string>;
  const boost::container::small_vector<IndexHint, 2>& IndexHints() const { return hints_; }
  const boost::container::small_vector<const ASDomain*, 4>& JoinSequence() const {
    return joinOrder_;
  }
  bool LocksRows() const { return lock_ != kLockNone; }
  RowLock Lock() const { return lock_; }
  // Counts the calls that may have changed the select: a kept cursor changed since its last
  // run looks its shape up again.
  unsigned Version() const { return version_; }

 protected:
  ASProjection proj_;
  ASComparison cond_;
  boost::container::small_vector<ASOrder, 4> orders_;
  bool hasLimit_ = false;
  unsigned long long limit_ = 0;
  unsigned long long offset_ = 0;
  boost::container::small_vector<IndexHint, 2> hints_;
  boost::container::small_vector<const ASDomain*, 4> joinOrder_;
  RowLock lock_ = kLockNone;
  unsigned version_ = 0;

 private:
  ASFilter& Locking(RowLock lock) {
    ++version_;
    lock_ = lock;
    return *this;
  }
};

// A select on a session. Runs on the first Fetch(). Several cursors may be open on one
// session while other statements run on it; the rows a cursor returns do not change under
// it when the same session writes (how each driver achieves that: query/ASCursor.cpp).
class ASCursor : public ASFilter {
 public:
  explicit ASCursor(ASSession* session);  // REQUIRES: `session` outlives the cursor
  // A kept cursor: made once (one a thread keeps, say) and run again and again, on the
  // session Reopen() gives it, with the values of its ASBound() operands. Its statement is
  // looked up by its shape on a session's first run only, and again once the select was
  // changed.
  ASCursor();
  ~ASCursor() override;
  ASCursor(const ASCursor&) = delete;
  ASCursor& operator=(const ASCursor&) = delete;
  // Non-zero while a row was fetched into the projected value members; 0 at the end.
  int Fetch();
  void Close();  // a later Fetch() runs the select again
  // Close(), and the next Fetch() runs on `session`. REQUIRES: `session` outlives the run.
  ASCursor& Reopen(ASSession* session);
  // Rows read per statement when a long result is fetched in pages (default 500).
  ASCursor& PageRows(unsigned long long rows);

 private:
  [[noreturn]] static void NoSession();
  ASSession* session_;
  unsigned long long pageRows_ = 500;
  std::unique_ptr<ASCursorState> state_;
  bool readOne_ = false;  // the row of a one-row select was read
  std::unique_ptr<ASKeptShape> kept_;  // a kept cursor's
};

// UPDATE of one table object's table. REQUIRES: the setters name columns of `domain`.
class ASUpdater {
 public:
  explicit ASUpdater(ASDomain& domain);
  ~ASUpdater();
  ASUpdater& operator<<(const ASSetter& s) {
    ++version_;
    setters_.push_back(s);
    return *this;
  }
  ASUpdater& operator<<(ASSetter&& s) {
    ++version_;
    setters_.push_back(std::move(s));
    return *this;
  }
  ASUpdater& Where(const ASComparison& c) {
    ++version_;
    cond_ = c;
    return *this;
  }
  // Kept for further runs, as a kept cursor (see ASCursor()): executed again and again with
  // the values of its ASBound() operands.
  ASUpdater& Keep();
  long long Execute(ASSession* session);  // rows changed

 private:
  ASDomain* domain_;
  boost::container::small_vector<ASSetter, 4> setters_;
  ASComparison cond_;
  std::unique_ptr<ASKeptShape> kept_;
  unsigned version_ = 0;  // as ASFilter::Version()
};

// DELETE from one table object's table.
class ASDeleter {
 public:
  explicit ASDeleter(ASDomain& domain) : domain_(&domain) {}
  ASDeleter& Where(const ASComparison& c) { cond_ = c; return *this; }
  long long Execute(ASSession* session);  // rows deleted

 private:
  ASDomain* domain_;
  ASComparison cond_;
};

JRX_PUBLIC_END
