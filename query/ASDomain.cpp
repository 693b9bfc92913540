#include <atomic>

#include "ASQuery.h"
#include "ASThreadCache.h"

namespace {

// Serials are unique in the process. A thread takes them from the shared count a block at a
// time: table objects are made for every statement, and a locked increment on a line that
// all threads share would cost more than the rest of the serial's making.
const unsigned long kSerialBlock = 1024;
std::atomic<unsigned long> nextBlock{1};
struct SerialBlock {
  unsigned long next;
  unsigned long end;
};
using SerialCache = ASThreadCache<SerialBlock>;

}  // namespace

unsigned long ASDomain::NewSerial() {
  SerialBlock& b = SerialCache::Mine().data;
  if (b.next == b.end) {
    b.next = nextBlock.fetch_add(kSerialBlock, std::memory_order_relaxed);
    b.end = b.next + kSerialBlock;
  }
  return b.next++;
}

void ASDomain::TooManyColumns(const char* index) {
  throw AException(std::string("the key or index ") + index + " has more than " +
                   std::to_string(AS_MAX_KEY_COLUMNS) + " columns");
}

void ASDomain::ValuesMismatch(size_t values) const {
  throw AException("table " + TableName() + " binds " + std::to_string(values) + " values to " +
                   std::to_string(attrs_.size()) + " columns");
}

void ASDomain::RemoveColumn(const ASAttribute& a) {
  if (a.Domain() != this)
    throw AException("column " + a.Name() + " is not a column of this " + TableName() + " object");
  removed_.resize(attrs_.size(), false);
  removed_[a.Index()] = true;
}

void ASDomain::RestoreColumns() { removed_.clear(); }

void ASDomain::ForeignIndexColumn(const char* index) {
  throw AException(std::string("index ") + index + " names a column of another table");
}

void ASIndexes::Add(const char* name, std::initializer_list<const ASAttribute*> columns,
                    bool unique) {
  if (columns.size() > AS_MAX_KEY_COLUMNS) ASDomain::TooManyColumns(name);
  ASIndexDef& def = list_.emplace_back();
  def.name = name;
  def.unique = unique;
  for (const ASAttribute* a : columns) {
    if (!a || a->Domain() != domain_) ASDomain::ForeignIndexColumn(name);
    def.columns.push_back(static_cast<unsigned short>(a->Index()));
  }
}

void ASDomain::SetPrimaryKey(std::initializer_list<const ASAttribute*> columns) {
  if (columns.size() > AS_MAX_KEY_COLUMNS) TooManyColumns("PRIMARY");
  primary_.clear();
  for (const ASAttribute* a : columns) {
    if (!a || a->Domain() != this)
      throw AException("the primary key of " + TableName() + " names a column of another table");
    primary_.push_back(static_cast<unsigned short>(a->Index()));
  }
}

ASColumnList ASDomain::KeyColumns() const {
  if (autoinc_) {
    ASColumnList key;
    key.push_back(static_cast<unsigned short>(autoinc_->Index()));
    return key;
  }
  return primary_;
}

void ASProjection::NotAColumn() { throw AException("a sub-select cannot be projected"); }
