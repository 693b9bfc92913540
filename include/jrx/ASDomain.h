// Tables: a table is a class deriving from its domain. The domain carries one ASAttribute per
// column (in column order) that names the column in projections, conditions, orders and
// updates; the table class carries one value member per column (ASInt, ASVStr, ...) that an
// insert reads and a fetch fills, and binds them with BindValues(). `operator->` of a table
// object gives its domain, so `t->status == 2` is a condition on the column and `t.status`
// is the value.
//
// Thread safety: a table object is used by one thread at a time.
// Ownership: every table object is a table alias of its own in a statement; its domain owns
// nothing but its lists of columns and keys.
// REQUIRES: a table object outlives the statements and conditions that name it, and the
// names it is given (table, columns, indexes) outlive the object.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <boost/container/small_vector.hpp>
#include <boost/container/static_vector.hpp>

#include "ASCondition.h"
#include "ASValue.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

// The column indexes of one key or index of a domain.
constexpr size_t AS_MAX_KEY_COLUMNS = 16;
using ASColumnList = boost::container::static_vector<unsigned short, AS_MAX_KEY_COLUMNS>;

struct ASIndexDef {
  const char* name = "";  // REQUIRES: outlives the domain (a string literal of the class)
  ASColumnList columns;
  bool unique = false;
};
using ASIndexList = boost::container::small_vector<ASIndexDef, 8>;

// The indexes a table class declares in its override of ASDomain::DeclareIndexes().
class ASIndexes {
 public:
  explicit ASIndexes(const ASDomain& domain) : domain_(&domain) {}
  // An index created with the table, of at most AS_MAX_KEY_COLUMNS columns of the domain.
  // REQUIRES: `name` outlives the domain (a string literal of the class).
  void Add(const char* name, std::initializer_list<const ASAttribute*> columns,
           bool unique = false);
  const ASIndexList& List() const { return list_; }

 private:
  const ASDomain* domain_;
  ASIndexList list_;
};

class ASDomain {
 public:
  // REQUIRES: `table` outlives the domain (it is kept, not copied: a string literal of the
  // table class, like the names of its columns).
  explicit ASDomain(const char* table)
      : table_(table), tableSize_(__builtin_strlen(table)), serial_(NewSerial()) {}
  ASDomain(const ASDomain&) = delete;
  ASDomain& operator=(const ASDomain&) = delete;
  virtual ~ASDomain() = default;

  std::string TableName() const { return std::string(table_, tableSize_); }
  const char* TableLiteral() const { return table_; }
  size_t TableSize() const { return tableSize_; }
  size_t Size() const { return attrs_.size(); }
  ASAttribute& Attribute(size_t i) const { return *attrs_.at(i); }
  ASValue& Value(size_t i) const { return *values_.at(i); }
  bool HasValues() const { return values_.size() == attrs_.size(); }

  // Alias identity: every domain object is its own table alias in a query.
  unsigned long Serial() const { return serial_; }

  // The columns that take part in an insert; all of them until one is removed.
  void RemoveColumn(const ASAttribute& a);
  void RestoreColumns();
  bool InInsert(size_t i) const {
    return i < attrs_.size() && (i >= removed_.size() || !removed_[i]);
  }

  // Schema: the indexes created with the table, as its class declares them.
  ASIndexList Indexes() const {
    ASIndexes declared(*this);
    DeclareIndexes(declared);
    return declared.List();
  }
  // The columns whose values identify a row, for a table without an auto-increment key
  // (which is the primary key where there is one). Its columns are NOT NULL.
  void SetPrimaryKey(std::initializer_list<const ASAttribute*> columns);
  const ASColumnList& PrimaryKey() const { return primary_; }
  // The primary key's columns: the auto-increment column, else those of SetPrimaryKey (none
  // for a table without one).
  ASColumnList KeyColumns() const;
  const ASAttribute* AutoIncrement() const { return autoinc_; }  // null for none
  bool LeftJoined() const { return leftJoined_; }  // a column has AS_KEY_LEFT_JOIN

 protected:
  // Called by the table class with its value members, in column order.
  // REQUIRES: the members outlive the domain (they are the table object's own).
  void BindValues(std::initializer_list<ASValue*> values) {
    if (values.size() != attrs_.size()) ValuesMismatch(values.size());
    values_.assign(values.begin(), values.end());
  }
  // Declares the indexes of the table (ASIndexes::Add), for what creates or reshapes it:
  // asked for there only, since table objects are made for every statement, and their
  // statements never need them.
  virtual void DeclareIndexes(ASIndexes& indexes) const { (void)indexes; }

 private:
  friend class ASAttribute;
  friend class ASIndexes;
  [[noreturn]] static void ForeignIndexColumn(const char* index);
  [[noreturn]] static void TooManyColumns(const char* index);
  static unsigned long NewSerial();
  [[noreturn]] void ValuesMismatch(size_t values) const;
  void Register(ASAttribute* a) {
    a->index_ = attrs_.size();
    attrs_.push_back(a);
    if ((a->flags_ & AS_COL_AUTOINC) && !autoinc_) autoinc_ = a;
  }

  const char* table_;
  size_t tableSize_;
  unsigned long serial_;
  boost::container::small_vector<ASAttribute*, 16> attrs_;
  boost::container::small_vector<ASValue*, 16> values_;
  std::vector<bool> removed_;  // from inserts; empty until a column is removed
  ASColumnList primary_;
  const ASAttribute* autoinc_ = nullptr;
  bool leftJoined_ = false;
};

inline ASAttribute::ASAttribute(ASDomain* domain, const char* column, ASType type, unsigned flags,
                                size_t maxBytes)
    : domain_(domain), name_(column), type_(type), flags_(flags), maxBytes_(maxBytes) {
  domain->Register(this);
}

// Base of table classes: `class t : public ASTable<t_domain> { ASInt a; ... }`.
template <class D>
class ASTable : public D {
 public:
  D* operator->() { return this; }
  const D* operator->() const { return this; }
  D& domain() { return *this; }
};

JRX_PUBLIC_END
