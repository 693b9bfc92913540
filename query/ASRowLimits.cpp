#include "ASRowLimits.h"

#include <string>

void ASRowLimits::Add(const ASAttribute& column, const ASBindValue& value) {
  const bool bytes = value.kind == ASBindValue::Text || value.kind == ASBindValue::Blob;
  const size_t size = bytes ? value.Bytes().size() : 8;
  if (bytes && column.MaxBytes() && size > column.MaxBytes())
    throw AException("a value of " + std::to_string(size) + " bytes for " + domain_.TableName() +
                     "." + column.Name() + " is longer than its width of " +
                     std::to_string(column.MaxBytes()) + " bytes");
  bytes_ += size;
}

void ASRowLimits::Check() const {
  if (bytes_ > AS_MAX_ROW_BYTES)
    throw AException("a row of " + std::to_string(bytes_) + " bytes for " + domain_.TableName() +
                     " is larger than the limit of " + std::to_string(AS_MAX_ROW_BYTES) +
                     " bytes per row");
}
