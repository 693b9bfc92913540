// The shape of a statement as a compact key: everything its SQL text depends on (tables,
// columns, operators, plan hints, what a cursor adds), written on every call into a buffer
// that is reused, without writing any SQL. Equal keys mean equal SQL text, so a session finds
// the statement it prepared for a shape by the key alone, and only a shape met for the first
// time is written out as SQL (see ASSessionAccess::Statement).
//
// The values a call binds are collected on the way, in the order the key meets them, as
// references: each statement remembers which of them its parameters take, and they are bound
// from where they are (condition nodes, value members) without a copy.
#pragma once

#include <string>
#include <vector>

#include "ASDriver.h"
#include "ASQuery.h"

// A value of the call and how it is bound.
struct ASBindSlot {
  enum How : unsigned char {
    Coerced,    // `value`, as a value for a column of `type`
    Assigned,   // `value`, as an update assigns it to a column of `type` (32-bit columns wrap)
    AsIs,       // `value` unchanged (values of an embedded SQL fragment, already coerced)
    Member,     // the value member `member`, for a column of `type` (inserts)
  };
  How how = AsIs;
  ASType type = AS_VSTR;
  const ASBindValue* value = nullptr;
  const ASValue* member = nullptr;
  // The column whose width and row the value counts against (inserted and assigned values).
  const ASAttribute* limited = nullptr;

  // The value as it is bound; bytes are borrowed from the slot's value where they can be.
  void BindInto(ASBindValue& out) const;
};

class ASShapeKey {
 public:
  void Clear();
  void Tag(char c) { bytes_ += c; }
  void Number(unsigned long long n);
  void Name(const std::string& s);
  void Name(const char* s);
  // A table: its alias by order of first appearance, and on that first appearance what the
  // text takes from the table as a whole (name, key columns, whether it is LEFT JOINed).
  void Table(const ASDomain& d);
  void Column(const ASDomain& d, size_t column);
  // Embedded SQL (a Query() text): its text with aliases numbered as here, and its values.
  void Fragment(const Str& sql);
  void Bind(const ASBindSlot& slot) { slots_.push_back(slot); }

  const std::string& Bytes() const { return bytes_; }
  const std::vector<ASBindSlot>& Slots() const { return slots_; }
  // The slot whose value is at `source` (a value or a value member), or -1.
  long SlotOf(const void* source) const;

 private:
  struct Seen {
    unsigned long serial;
    bool described;
  };
  // The alias number of a table; `seen` tells where its entry is.
  unsigned AliasOf(unsigned long serial, Seen*& seen);

  std::string bytes_;
  std::vector<ASBindSlot> slots_;
  std::vector<Seen> tables_;  // in order of appearance
};

// The key of a condition, or of an operand bound for a column of `type` (and the slots of
// their values).
void ASKeyCondition(const ASNode& n, ASShapeKey& k);
void ASKeyTerm(const ASTerm& t, ASType type, ASShapeKey& k);
