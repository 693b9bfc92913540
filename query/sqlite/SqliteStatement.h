#pragma once

#include <sqlite3.h>

#include "ASDriver.h"

class SqliteStatement : public ASDriverStatement {
 public:
  SqliteStatement(sqlite3* db, const std::string& sql);
  ~SqliteStatement() override;
  void Execute(const std::vector<ASBindValue>& params) override;
  bool Next() override;
  size_t Columns() const override;
  void Get(size_t column, ASBindValue& out) const override;
  void GetInto(size_t column, ASValue& v) const override;
  long long Changes() const override { return changes_; }
  void Reset() override;

 private:
  int Step();

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool pending_ = false;             // the first row was stepped to by Execute()
  bool done_ = true;
  bool stepped_ = false;             // run since the last reset
  long long changes_ = 0;
};
