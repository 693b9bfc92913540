// Columns, operands and the conditions, orders and assignments made of them:
// `t->status == 2 && !(t->id == "x")`, `-t->time`, `t->status.Set(3)`.
//
// Thread safety: a condition belongs to the thread that made it, as do the table objects it
// names: its handles are counted without synchronisation, so a condition (and any copy of it)
// is used, copied and dropped on one thread only.
// Ownership: conditions, operands and setters hold their values (copied when made) and name
// the columns of table objects by address.
// REQUIRES: the table objects named by a condition, order or setter outlive it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "ASDetail.h"
#include "ASValue.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

class ASAttribute;
class ASComparison;
class ASDomain;
class ASFilter;
class ASSetter;

// Key kinds of ASAttribute::SetKey.
enum : int { AS_KEY_NONE = 0, AS_KEY_LEFT_JOIN = 4 };

// Anything that can stand on the right of a comparison or in an update: another attribute
// or a value (bound as a parameter, never pasted into the SQL text).
class ASOperand {
 public:
  ASOperand(const ASAttribute& a);  // NOLINT
  ASOperand(const char* v);         // NOLINT: null is SQL NULL
  ASOperand(const std::string& v);  // NOLINT
  ASOperand(const Str& v);          // NOLINT
  ASOperand(int v);                 // NOLINT
  ASOperand(long v);                // NOLINT
  ASOperand(long long v);           // NOLINT
  ASOperand(unsigned v);            // NOLINT
  ASOperand(double v);              // NOLINT
  ASOperand(const Guid& v);         // NOLINT
  ASOperand(const ASValue& v);      // NOLINT: the member's value now, not later
  ASDetail::Term term;
};

// The value `v` holds whenever the statement runs, not now: what a kept statement (see
// ASCursor()) binds anew on every run. Bound as an insert binds a value member.
// REQUIRES: `v` outlives the condition or setter.
ASOperand ASBound(const ASValue& v);

class ASExpression {
 public:
  ASExpression(const ASOperand& v) : operand_(v) {}  // NOLINT
  ASExpression(ASOperand&& v) : operand_(std::move(v)) {}  // NOLINT
  const ASOperand& Operand() const { return operand_; }

 private:
  ASOperand operand_;
};

// One key of an ORDER BY. REQUIRES: the attribute outlives the order.
class ASOrder {
 public:
  ASOrder(const ASAttribute& a, bool descending = false);  // NOLINT
  const ASAttribute* Attribute() const { return attr_; }
  bool Descending() const { return desc_; }

 private:
  const ASAttribute* attr_;
  bool desc_;
};

// A column of a table object (the member of its domain that names it), or a sub-select.
class ASAttribute {
 public:
  // A column of `domain`; registers itself as the domain's next column. `maxBytes`: the width
  // of a text column (0: any length).
  // REQUIRES: `column` outlives the attribute (it is kept, not copied: a string literal of
  // the table class).
  inline ASAttribute(ASDomain* domain, const char* column, ASType type,
                     unsigned flags = AS_COL_NONE, size_t maxBytes = 0);
  // A sub-select (from ASFilter::Query()), usable with In / NotIn.
  explicit ASAttribute(const Str& subselect);
  ASAttribute(const ASAttribute&) = delete;
  ASAttribute& operator=(const ASAttribute&) = delete;
  ASAttribute(ASAttribute&&) = default;

  std::string Name() const { return name_; }
  ASType Type() const { return type_; }
  unsigned Flags() const { return flags_; }
  size_t MaxBytes() const { return maxBytes_; }
  ASDomain* Domain() const { return domain_; }
  size_t Index() const { return index_; }
  const std::shared_ptr<const Str>& Subselect() const { return sub_; }  // null for a column

  // AS_KEY_LEFT_JOIN marks this column as the link of a LEFT JOINed table: the table is
  // joined with the equality conditions on this column and the join comparisons that name
  // it; its rows may be missing (NULL columns).
  void SetKey(int kind);
  int Key() const { return key_; }

  ASComparison IsNull() const;
  ASComparison In(const ASAttribute& subselect) const;
  ASComparison NotIn(const ASAttribute& subselect) const;
  ASSetter Set(const ASExpression& e) const;
  ASSetter Set(const ASOperand& v) const;  // a value or a column, without naming ASExpression
  ASSetter Set(ASOperand&& v) const;
  ASOrder operator-() const { return ASOrder(*this, true); }

 private:
  friend class ASDomain;
  ASDomain* domain_ = nullptr;
  const char* name_ = "";
  ASType type_ = AS_VSTR;
  unsigned flags_ = 0;
  size_t maxBytes_ = 0;
  size_t index_ = 0;
  int key_ = AS_KEY_NONE;
  std::shared_ptr<const Str> sub_;  // null for a column
};

// A condition: empty, a comparison, a combination of conditions, or a join comparison. A
// value-like handle: copies share one immutable node.
class ASComparison {
 public:
  ASComparison();  // the empty condition
  // Empty `sql`: the empty condition. Otherwise a join comparison: `sql` (from
  // ASComparison::Query()) becomes the ON condition joining `right` to `left`.
  // REQUIRES: `left` and `right` outlive the condition.
  ASComparison(const Str& sql, ASDomain* left, ASDomain* right);
  explicit ASComparison(ASDetail::NodeRef node) : node_(std::move(node)) {}

  bool IsEmpty() const { return !node_; }
  Str Query() const;  // SQL text of this condition (values attached, see Str)
  const ASDetail::NodeRef& Node() const { return node_; }

 private:
  ASDetail::NodeRef node_;
};

ASComparison operator==(const ASAttribute& a, ASOperand b);
ASComparison operator!=(const ASAttribute& a, ASOperand b);
ASComparison operator<(const ASAttribute& a, ASOperand b);
ASComparison operator>(const ASAttribute& a, ASOperand b);
ASComparison operator<=(const ASAttribute& a, ASOperand b);
ASComparison operator>=(const ASAttribute& a, ASOperand b);
// The empty condition is neutral: empty && c == c, empty || c == c, !empty == empty.
ASComparison operator&&(const ASComparison& a, const ASComparison& b);
ASComparison operator||(const ASComparison& a, const ASComparison& b);
ASComparison operator!(const ASComparison& a);

// One assignment of an update: `column = operand`.
// REQUIRES: the attribute outlives the setter.
class ASSetter {
 public:
  ASSetter(const ASAttribute& a, const ASExpression& e) : attr_(&a), expr_(e) {}
  ASSetter(const ASAttribute& a, ASExpression&& e) : attr_(&a), expr_(std::move(e)) {}
  const ASAttribute* Attribute() const { return attr_; }
  const ASExpression& Expression() const { return expr_; }

 private:
  const ASAttribute* attr_;
  ASExpression expr_;
};

JRX_PUBLIC_END
