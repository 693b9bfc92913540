#pragma once

#include <mysql.h>

#include "ASDriver.h"

class MariaConnection;

class MariaStatement : public ASDriverStatement {
 public:
  MariaStatement(MariaConnection& conn, MYSQL* db, const std::string& sql);
  ~MariaStatement() override;
  void Execute(const std::vector<ASBindValue>& params) override;
  void ExecuteOne(const std::vector<ASBindValue>& params) override;
  bool Next() override;
  size_t Columns() const override { return columns_.size(); }
  void Get(size_t column, ASBindValue& out) const override;
  void GetInto(size_t column, ASValue& v) const override;
  long long Changes() const override { return changes_; }
  void Reset() override;

 private:
  enum Kind { Integer, Real, Bytes };
  struct Column {
    Kind kind = Bytes;
    long long i = 0;
    double d = 0;
    std::string buffer;
    unsigned long length = 0;
    my_bool null = 0;
    my_bool error = 0;
  };
  void Run(const std::vector<ASBindValue>& params, bool store);
  // `stored`: the result was stored, and its metadata tells each column's longest value.
  void BindResult(bool stored);

  MariaConnection& conn_;
  MYSQL_STMT* stmt_ = nullptr;
  std::vector<MYSQL_BIND> paramBinds_;
  std::vector<Column> columns_;
  std::vector<MYSQL_BIND> resultBinds_;
  long long changes_ = 0;
  bool stored_ = false;
  bool streaming_ = false;  // a row of ExecuteOne() is read as it comes
};
