// Counting rows of a table in the process's database, for tests that check what a call
// stored or left behind.
#pragma once

#include "ASQuery.h"
#include "JRXRdbms.h"

namespace jrxtest {

// Rows of `table` under `where` (the empty condition: all); `where` names the same table
// object.
inline long long countRows(const ASDomain& table, const ASComparison& where = ASComparison()) {
  JRX::JRXRdbmsTran tran;
  ASCursor c(*tran);
  c.Project() << table.Attribute(0);
  c.Set(where);
  long long n = 0;
  while (c.Fetch()) ++n;
  return n;
}

}  // namespace jrxtest
