// The limits of AS_MAX_ROW_BYTES and of column widths, checked on the values of one row
// before the statement that writes them runs.
#pragma once

#include "ASDriver.h"

class ASRowLimits {
 public:
  explicit ASRowLimits(const ASDomain& domain) : domain_(domain) {}
  // Counts a value bound to `column`; throws AException when it is wider than the column.
  void Add(const ASAttribute& column, const ASBindValue& value);
  // Throws AException when the values counted exceed AS_MAX_ROW_BYTES.
  void Check() const;

 private:
  const ASDomain& domain_;
  size_t bytes_ = 0;
};
