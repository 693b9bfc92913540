#include <atomic>

#include "ASQuery.h"

namespace {
std::atomic<unsigned long> nextSerial{1};
}  // namespace

// Table objects are made for every statement; room for a table's columns and indexes up
// front spares the growth of these lists on each of them.
ASDomain::ASDomain(const char* table) : table_(table), serial_(nextSerial++) {
  attrs_.reserve(16);
  insert_.reserve(64);
  indexes_.reserve(4);
}

void ASDomain::Register(ASAttribute* a) {
  a->index_ = attrs_.size();
  attrs_.push_back(a);
  insert_.push_back(true);
}

void ASDomain::BindValues(std::initializer_list<ASValue*> values) {
  if (values.size() != attrs_.size())
    throw AException("table " + table_ + " binds " + std::to_string(values.size()) +
                     " values to " + std::to_string(attrs_.size()) + " columns");
  values_.assign(values.begin(), values.end());
}

void ASDomain::RemoveColumn(const ASAttribute& a) {
  if (a.Domain() != this)
    throw AException("column " + a.Name() + " is not a column of this " + table_ + " object");
  insert_[a.Index()] = false;
}

void ASDomain::RestoreColumns() { insert_.assign(attrs_.size(), true); }

void ASDomain::AddIndex(const char* name, std::initializer_list<const ASAttribute*> columns,
                        bool unique) {
  ASIndexDef def;
  def.name = name;
  def.unique = unique;
  for (const ASAttribute* a : columns) {
    if (!a || a->Domain() != this)
      throw AException(std::string("index ") + name + " names a column of another table");
    def.columns.push_back(a->Index());
  }
  indexes_.push_back(std::move(def));
}

void ASDomain::SetPrimaryKey(std::initializer_list<const ASAttribute*> columns) {
  primary_.clear();
  for (const ASAttribute* a : columns) {
    if (!a || a->Domain() != this)
      throw AException("the primary key of " + table_ + " names a column of another table");
    primary_.push_back(a->Index());
  }
}

std::vector<size_t> ASDomain::KeyColumns() const {
  for (size_t i = 0; i < attrs_.size(); ++i)
    if (attrs_[i]->Flags() & AS_COL_AUTOINC) return {i};
  return primary_;
}

ASProjection& ASProjection::operator<<(const ASAttribute& a) {
  if (!a.Domain()) throw AException("a sub-select cannot be projected");
  attrs_.push_back(&a);
  return *this;
}
