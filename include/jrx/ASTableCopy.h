// Whole tables moved between two sessions, of the same database kind or not, and compared.
//
// Every column is copied as stored: integers as integers, texts and blobs byte for byte
// (NUL bytes and invalid UTF-8 included), auto-increment keys with the values they have, and
// the target's auto-increment counter is moved above every key the source handed out, so that
// rows inserted later on either side never take a key the source ever used.
//
// A table is read in the order of its primary key (the auto-increment column, or the
// declared one); a table without a key in the order of an index that holds every column, else
// in the order of all its columns. Both databases order bytes and numbers alike, so a table
// read on either side gives its rows in the same sequence, which the digest relies on. (MariaDB
// sorts texts of any length by their first max_sort_length bytes only: a table without a key
// and without such an index must not hold two rows that differ only beyond them.)
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "ASQuery.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

// What a table holds: its rows and a checksum over their values in that order. Values are
// hashed by what they are (NULL, number, bytes), not by how a driver hands them over, so
// one table on SQLite and on MariaDB has the same digest.
struct ASTableDigest {
  long long rows = 0;
  std::string checksum;  // 32 hexadecimal digits
  bool operator==(const ASTableDigest& o) const {
    return rows == o.rows && checksum == o.checksum;
  }
  bool operator!=(const ASTableDigest& o) const { return !(*this == o); }
};

bool ASTableExists(ASSession* session, const ASDomain& table);
// False for a table that does not exist.
bool ASTableHasRows(ASSession* session, const ASDomain& table);
long long ASCountRows(ASSession* session, const ASDomain& table);

struct ASCopyOptions {
  // Rows per read on the source and per transaction on the target; fewer where rows are long
  // (a read holds about 64 MiB).
  size_t batchRows = 5000;
  // After each committed batch: the rows of this table copied so far.
  std::function<void(long long copied)> progress;
};

// Copies every row of `table` from `from` into the same table on `to`, which must exist
// (ASSession::CreateTable) and is expected to be empty: a row whose key is there already
// fails the batch it is in, and the batches before it stay. Reading happens in pages, so run
// it inside a read transaction of `from` (AS_TRAN_READ) for one picture of a table that
// others may be writing. Returns the digest of the rows read from `from`.
ASTableDigest ASCopyTable(ASSession* from, ASSession* to, const ASDomain& table,
                          const ASCopyOptions& options = ASCopyOptions());

// Reads the whole table back in key order.
ASTableDigest ASDigestTable(ASSession* session, const ASDomain& table);

JRX_PUBLIC_END
