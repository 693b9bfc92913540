// A whole table read page by page in a fixed order (ASTableCopy.h tells which), every column
// in column order, without value members: what a copy writes and a digest hashes.
#pragma once

#include <string>
#include <vector>

#include "ASSessionAccess.h"

class ASTablePages {
 public:
  ASTablePages(ASSession& session, const ASDomain& table, size_t pageRows);
  // The next page into `rows` (emptied first): at most `pageRows` rows, fewer where they are
  // long. False once the table has no more rows.
  bool Next(ASRowBuffer& rows);

 private:
  void Remember(const ASRowBuffer& rows);
  void Resize(const ASRowBuffer& rows);

  static constexpr size_t kPageBytes = 64u << 20;
  static constexpr size_t kFirstPageRows = 16;  // of AS_MAX_ROW_BYTES each at most

  ASSession& session_;
  size_t mostRows_;
  size_t pageRows_;  // of the next page
  std::vector<size_t> order_;  // columns of the order
  bool unique_ = false;        // the order is a key: no two rows share its values
  std::string first_;          // the first page
  std::string after_;          // a page after a row of the order's values (see .cpp)
  std::string offset_;         // a page after a number of rows
  ASRow last_;                 // the order's values in the last row read
  unsigned long long sameAsLast_ = 0;  // rows read whose order values equal last_
  unsigned long long read_ = 0;
  bool started_ = false, done_ = false;
  bool byOffset_ = false;      // a NULL in the order: go on by counting rows
  std::vector<ASBindValue> params_;
};
