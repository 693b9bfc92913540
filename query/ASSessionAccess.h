// What the query core needs of a session beyond its public interface.
#pragma once

#include <string>
#include <vector>

#include "ASDriver.h"
#include "ASQuery.h"
#include "ASShapeKey.h"
#include "ASShapeCheck.h"
#include "ASSqlText.h"

class ASRowLimits;

using ASRow = std::vector<ASBindValue>;

// Rows read by a statement. Refilled, it keeps the storage of its rows and of their values,
// so that a buffer used again reads rows of the same size without allocating.
class ASRowBuffer {
 public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const ASRow& operator[](size_t i) const { return rows_[i]; }
  ASRow& operator[](size_t i) { return rows_[i]; }
  const ASRow& back() const { return rows_[count_ - 1]; }
  void clear() { count_ = 0; }
  ASRow& Add(size_t columns);
  // Gives up storage beyond what a few short rows need.
  void Trim();

 private:
  std::vector<ASRow> rows_;
  size_t count_ = 0;
  size_t filled_ = 0;  // rows given values since the last Trim()
};

// The value members the one row of a statement goes straight into, by column (null: a
// column nobody takes); `filled` tells that there was a row.
struct ASRowTarget {
  ASValue* const* members = nullptr;
  size_t count = 0;
  bool filled = false;
};

// A statement of one shape on one session: its text, its prepared form, and where each of its
// parameters takes its value from.
struct ASPrepared {
  struct Param {
    enum From : unsigned char { Slot, Count, Offset, Constant } from = Slot;
    unsigned slot = 0;   // in the key's slots
    long long value = 0;  // Constant
  };
  std::string key;  // ASShapeKey::Bytes()
  std::string sql;
  ASDriverStatement* statement = nullptr;  // prepared on first use, kept by the session
  std::vector<Param> params;
};

// What a kept statement (one its caller runs again and again with its bound values)
// remembers of its shape: the statement found for it, on which session's table of shapes as
// it was then, for which version of the statement, and the sources of its values, which
// stay where they were while the statement is not changed.
struct ASKeptShape {
  unsigned long long epoch = 0;  // of the table of shapes; 0: none yet
  unsigned version = 0;          // ASFilter::Version()
  ASPrepared* prepared = nullptr;
  std::vector<ASBindSlot> slots;
};

// A statement to run and where its parameters' values come from.
struct ASFound {
  ASPrepared& prepared;
  const std::vector<ASBindSlot>& slots;
};

struct ASSessionAccess {
  // The session's key for the statement about to be built, cleared. The connection is made
  // ready first (see Connection()), so that what Statement() finds stays valid until it ran.
  static ASShapeKey& Key(ASSession& s);
  // The statement of the shape in Key(s). Met for the first time, `write` writes its SQL
  // with the sources of its values.
  // Where shapes are checked (debug builds, and tests through ASDetail::CheckShapes), the
  // SQL of a statement found by its key is written too, and must be the same.
  template <class Write>
  static ASPrepared& Statement(ASSession& s, Write&& write) {
    bool check = false;
    ASPrepared* p = Find(s, check);
    if (p && !check) return *p;
    ASSqlWriter w;
    write(w);
    if (p) {
      Verify(s, *p, w);
      return *p;
    }
    return Remember(s, w);
  }
  // The statement of a shape: as Statement() with the key `key` writes into Key(s), except
  // that a kept statement (`kept` not null) of version `version` looks its shape up on a
  // session's first run only and then skips writing the key while neither the statement nor
  // the session's table of shapes changed. Where shapes are checked, every run goes the
  // whole way, and a kept statement whose shape changed without a new version throws.
  template <class WriteKey, class Write>
  static ASFound Shape(ASSession& s, ASKeptShape* kept, unsigned version, WriteKey&& key,
                       Write&& write) {
    if (kept)
      if (ASPrepared* p = StillKept(s, *kept, version)) return {*p, kept->slots};
    ASShapeKey& k = Key(s);
    key(k);
    ASPrepared& p = Statement(s, write);
    if (kept) Keep(s, *kept, version, p);
    return {p, k.Slots()};
  }
  // Runs `f`'s statement with the values of its slots (and a select's LIMIT `count` and
  // OFFSET `offset`), counting the values of limited slots against `limits` before it runs.
  // With a `target`, the statement reads at most one row, into its members.
  static long long Run(ASSession& s, const ASFound& f, unsigned long long count,
                       unsigned long long offset, ASRowLimits* limits, ASRowBuffer* rows,
                       ASRowTarget* target = nullptr);

  // Runs `sql` (tokenised aliases already resolved) with `params` on the session's
  // connection, through its statement cache. A select's rows are all read into `rows` before
  // this returns, so the connection is free for the next statement. Returns the number of
  // rows an UPDATE or DELETE matched.
  static long long Run(ASSession& s, const std::string& sql, const std::vector<ASBindValue>& params,
                       ASRowBuffer* rows);
  // The connection, reconnected first when it was lost outside any transaction.
  static ASDriverConnection& Connection(ASSession& s);

  // See ASShapeCheck.h.
  static void CheckShapes(ASSession& s, bool on);
  static std::vector<ASDetail::ShapeText> ShapeTexts(const ASSession& s);

 private:
  static ASPrepared* Find(ASSession& s, bool& check);
  // The statement `kept` found on this session, while its table of shapes is as it was then
  // and the statement is of the same version (and shapes are not checked); the connection
  // is made ready first, as by Key().
  static ASPrepared* StillKept(ASSession& s, const ASKeptShape& kept, unsigned version);
  static void Keep(ASSession& s, ASKeptShape& kept, unsigned version, ASPrepared& p);
  static ASPrepared& Remember(ASSession& s, const ASSqlWriter& w);
  static void Verify(ASSession& s, const ASPrepared& p, const ASSqlWriter& w);
};
