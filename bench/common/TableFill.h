// Filling the log tables fast for the benchmarks over large logs: multi-row INSERTs in large
// transactions, keys given explicitly so that links need no read-back. The same SQL text runs
// on both databases.
#pragma once

#include <memory>
#include <string>

#include "JRXConversions.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "ASHex.h"

namespace opbench {

inline std::string hex(const std::string& bytes) {
  return "X'" + ASHex(bytes) + "'";
}

inline std::string guidLiteral(const JRX::JRXEID& eid) {
  return hex(JRX::guidToRDBMSGuid(eid).Bytes());
}

// The stored form of a progress text: the information record's text and its NUL.
inline std::string infoLiteral(const std::string& text) {
  std::string stored;
  JRX::JRXInfo(text).serializeToString(stored);
  stored.push_back('\0');
  return hex(stored);
}

// Collects rows of one table into multi-row INSERT statements, committed every
// `perTransaction` rows.
class TableFill {
 public:
  TableFill(const std::string& table, const std::string& columns, size_t perStatement = 2000,
            size_t perTransaction = 200000)
      : head_("INSERT INTO " + table + " (" + columns + ") VALUES "),
        perStatement_(perStatement),
        perTransaction_(perTransaction) {}
  ~TableFill() { flush(); }

  void row(const std::string& values) {
    if (inStatement_ == 0) {
      sql_ = head_;
    } else {
      sql_ += ",";
    }
    sql_ += "(" + values + ")";
    if (++inStatement_ == perStatement_) execute();
  }

  void flush() {
    if (inStatement_) execute();
    if (tran_) {
      tran_->commit();
      tran_.reset();
    }
    inTransaction_ = 0;
  }

 private:
  void execute() {
    if (!tran_) tran_.reset(new JRX::JRXRdbmsTran());
    (**tran_)->ExecuteSql(sql_);
    inTransaction_ += inStatement_;
    inStatement_ = 0;
    sql_.clear();
    if (inTransaction_ >= perTransaction_) {
      tran_->commit();
      tran_.reset();
      inTransaction_ = 0;
    }
  }

  std::string head_;
  size_t perStatement_;
  size_t perTransaction_;
  std::string sql_;
  size_t inStatement_ = 0;
  size_t inTransaction_ = 0;
  std::unique_ptr<JRX::JRXRdbmsTran> tran_;
};

}  // namespace opbench
