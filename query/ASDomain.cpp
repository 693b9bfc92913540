#include <atomic>

#include "ASQuery.h"

namespace {
std::atomic<unsigned long> nextSerial{1};
}  // namespace

ASDomain::ASDomain(const char* table) : table_(table), serial_(nextSerial++) {}

void ASColumnList::TooMany() {
  throw AException("a key or index of more than " + std::to_string(kMax) + " columns");
}

void ASDomain::ValuesMismatch(size_t values) const {
  throw AException("table " + table_ + " binds " + std::to_string(values) + " values to " +
                   std::to_string(attrs_.size()) + " columns");
}

void ASDomain::RemoveColumn(const ASAttribute& a) {
  if (a.Domain() != this)
    throw AException("column " + a.Name() + " is not a column of this " + table_ + " object");
  removed_.resize(attrs_.size(), false);
  removed_[a.Index()] = true;
}

void ASDomain::RestoreColumns() { removed_.clear(); }

void ASDomain::ForeignIndexColumn(const char* index) {
  throw AException(std::string("index ") + index + " names a column of another table");
}

void ASDomain::SetPrimaryKey(std::initializer_list<const ASAttribute*> columns) {
  primary_.clear();
  for (const ASAttribute* a : columns) {
    if (!a || a->Domain() != this)
      throw AException("the primary key of " + table_ + " names a column of another table");
    primary_.push_back(a->Index());
  }
}

ASColumnList ASDomain::KeyColumns() const {
  if (autoinc_) {
    ASColumnList key;
    key.push_back(autoinc_->Index());
    return key;
  }
  return primary_;
}

ASProjection& ASProjection::operator<<(const ASAttribute& a) {
  if (!a.Domain()) throw AException("a sub-select cannot be projected");
  attrs_.push_back(&a);
  return *this;
}
