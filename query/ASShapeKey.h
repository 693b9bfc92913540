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

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ASDriver.h"
#include "ASKeyTag.h"
#include "ASQuery.h"

struct ASNode;

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
  ASShapeKey() : buffer_(512, '\0'), at_(&buffer_[0]), end_(at_ + buffer_.size()) {}
  ASShapeKey(const ASShapeKey&) = delete;
  ASShapeKey& operator=(const ASShapeKey&) = delete;
  void Clear() {
    at_ = &buffer_[0];
    slots_.clear();
    tables_.clear();
    last_ = 0;
  }
  void Tag(ASKeyTag t) {
    Room(1);
    *at_++ = static_cast<char>(t);
  }
  void Number(unsigned long long n) {
    Room(10);
    at_ = Put(n, at_);
  }
  void Name(const char* s, size_t n) {
    Room(n + 10);
    char* p = Put(n, at_);
    std::memcpy(p, s, n);
    at_ = p + n;
  }
  void Name(const std::string& s) { Name(s.data(), s.size()); }
  // A table: its alias by order of first appearance, and on that first appearance the
  // table itself: its class (which fixes its columns and keys), its name and whether it is
  // LEFT JOINed. A column: its table and its place there.
  void Table(const ASDomain& d) {
    Seen* seen = nullptr;
    Number(AliasOf(d.Serial(), seen));
    if (!seen->described) Describe(d, *seen);
  }
  void Column(const ASDomain& d, size_t column) {
    Table(d);
    const char key = static_cast<char>(d.Attribute(column).Key());
    Room(11);
    char* p = Put(column, at_);
    *p++ = key;
    at_ = p;
  }
  // Embedded SQL (a Query() text): its text with aliases numbered as here, and its values.
  void Fragment(const Str& sql);
  void Bind(const ASBindSlot& slot) { slots_.push_back(slot); }

  std::string_view Bytes() const {
    return std::string_view(buffer_.data(), static_cast<size_t>(at_ - buffer_.data()));
  }
  const std::vector<ASBindSlot>& Slots() const { return slots_; }
  // The slot whose value is at `source` (a value or a value member), or -1.
  long SlotOf(const void* source) const;

 private:
  struct Seen {
    unsigned long serial;
    bool described;
  };
  // The alias number of a table; `seen` tells where its entry is.
  unsigned AliasOf(unsigned long serial, Seen*& seen) {
    // Columns come table by table, as a rule: the last table met first.
    if (last_ < tables_.size() && tables_[last_].serial == serial) {
      seen = &tables_[last_];
      return static_cast<unsigned>(last_);
    }
    for (last_ = 0; last_ < tables_.size(); ++last_)
      if (tables_[last_].serial == serial) {
        seen = &tables_[last_];
        return static_cast<unsigned>(last_);
      }
    tables_.push_back({serial, false});
    seen = &tables_.back();
    return static_cast<unsigned>(last_);
  }
  void Describe(const ASDomain& d, Seen& seen);
  // Written in place through a pointer to the next byte: the key is built for every
  // statement.
  void Room(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n) Grow(n);
  }
  void Grow(size_t n) {
    const size_t used = static_cast<size_t>(at_ - &buffer_[0]);
    buffer_.resize(2 * (used + n));
    at_ = &buffer_[0] + used;
    end_ = &buffer_[0] + buffer_.size();
  }
  static char* Put(unsigned long long n, char* p) {
    while (n > 0x7f) {
      *p++ = static_cast<char>((n & 0x7f) | 0x80);
      n >>= 7;
    }
    *p++ = static_cast<char>(n);
    return p;
  }

  std::string buffer_;
  char* at_;   // the next byte of the key
  char* end_;  // the end of the buffer
  std::vector<ASBindSlot> slots_;
  std::vector<Seen> tables_;  // in order of appearance
  size_t last_ = 0;
};

// The key of an operand bound for a column of `type` (and the slot of its value); its SQL
// writer is in ASConditionText.cpp.
inline void ASKeyTerm(const ASTerm& t, ASType type, ASShapeKey& k) {
  switch (t.kind) {
    case ASTerm::Column:
      k.Tag(ASKeyTag::Column);
      k.Column(*t.domain, t.column);
      break;
    case ASTerm::Value:
    case ASTerm::Bound: {  // the same text
      k.Tag(ASKeyTag::Value);
      ASBindSlot s;
      s.how = t.bound ? ASBindSlot::Member : ASBindSlot::Coerced;
      s.type = type;
      s.value = &t.value;
      s.member = t.bound;
      k.Bind(s);
      break;
    }
    case ASTerm::Subselect:
      k.Tag(ASKeyTag::Subselect);
      k.Fragment(*t.sql);
      break;
  }
}
