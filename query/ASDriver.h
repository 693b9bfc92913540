// What a database driver provides to the query core. The core builds SQL text, binds values
// and reads rows only through these classes; it never includes a driver's own header.
//
// Every driver folder holds the same set of files, named after the parts below:
//   <Driver>Connection  the connection, its transactions and its SQL dialect
//   <Driver>Statement   a prepared statement and the rows of its result
//   <Driver>Error       turning the database's error state into AException
//   <Driver>Factory     registering the URL scheme the driver answers to
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ASQuery.h"

// The library's own names for what the interface holds in namespace ASDetail.
using ASBindValue = ASDetail::BindValue;
using ASTerm = ASDetail::Term;

// A prepared statement; it is also the cursor over its own result. Execute() runs it with
// the parameters; a select's rows are then read with Next()/Get() and must be read (or
// Reset()) completely before another statement runs on the same connection.
class ASDriverStatement {
 public:
  virtual ~ASDriverStatement() = default;
  virtual void Execute(const std::vector<ASBindValue>& params) = 0;
  // Execute() for a select of one row at the most, read at once with nothing else run on
  // the connection before Reset(): a driver may read it as it comes instead of keeping the
  // result aside first. The default is Execute().
  virtual void ExecuteOne(const std::vector<ASBindValue>& params) { Execute(params); }
  virtual bool Next() = 0;
  virtual size_t Columns() const = 0;
  virtual void Get(size_t column, ASBindValue& out) const = 0;
  // The column straight into a value member, converted as a fetch converts (ASFetchInt and
  // its kin): for a statement that reads one row, with no row buffer between. The default
  // goes through Get().
  virtual void GetInto(size_t column, ASValue& v) const;
  virtual long long Changes() const = 0;  // rows matched by the last UPDATE / DELETE
  virtual void Reset() = 0;               // ends the result; the statement may run again
};

// How a fetched value becomes the value of a member of its column's type, whatever the
// database handed over: a number for a text column, a text for a number column...
void ASFetchInt(ASValue& v, long long i);
void ASFetchReal(ASValue& v, double d);
void ASFetchBytes(ASValue& v, const char* data, size_t size);

// One open connection. Not shared between threads.
class ASDriverConnection {
 public:
  virtual ~ASDriverConnection() = default;

  virtual const char* Dialect() const = 0;
  virtual std::unique_ptr<ASDriverStatement> Prepare(const std::string& sql) = 0;
  // A statement without parameters or rows (DDL, administration).
  virtual void ExecuteSql(const std::string& sql) = 0;
  virtual long long LastInsertId() = 0;

  // Transactions.
  virtual void Begin(ASTransactionMode mode) = 0;  // what each mode means: ASQuery.h
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual void Savepoint(const std::string& name) = 0;
  virtual void ReleaseSavepoint(const std::string& name) = 0;
  virtual void RollbackToSavepoint(const std::string& name) = 0;
  // Replaces a lost connection by a fresh one to the same database.
  virtual void Reconnect() = 0;
  // Frees what the connection caches of the database's pages; a server keeps none here.
  virtual void ReleaseMemory() {}

  // Dialect.
  virtual std::vector<std::string> TableDdl(const ASDomain& domain) const = 0;
  // Columns that identify a row of the table uniquely (the last tie-breakers when paging
  // through a result); none when the table has no such key.
  virtual std::vector<std::string> RowKey(const ASDomain& domain) const = 0;
  virtual std::string InsertDefaultsSql(const std::string& table) const = 0;
  // The LIMIT count that stands for "no limit" (an OFFSET needs a LIMIT in both dialects).
  virtual const char* NoLimit() const = 0;
  // What follows `table` (and its alias) in FROM to read it through `index` only
  // (ASPrimaryKey: its primary key).
  virtual std::string IndexHint(const ASDomain& table, const std::string& index) const = 0;
  // The join operator that keeps the left table the outer one.
  virtual const char* OrderedJoin() const = 0;
  // What ends a select that locks the rows it reads until the transaction ends, in the
  // ways of ASFilter::RowLock.
  virtual const char* RowLockClause(ASFilter::RowLock lock) const = 0;

  // Layouts (ASSession::DescribeTable, ReshapeTable).
  virtual ASTableLayout DescribeTable(const std::string& table) = 0;
  // The layout TableDdl() makes, described as DescribeTable() would describe it.
  virtual ASTableLayout IntendedLayout(const ASDomain& domain) const = 0;
  // The statements that turn `have` into `want` (both of `domain`'s table), keeping rows.
  virtual std::vector<std::string> ReshapeSql(const ASDomain& domain, const ASTableLayout& have,
                                              const ASTableLayout& want) const = 0;
  // ASSession::Vacuum().
  virtual bool Vacuum() = 0;
  // A named lock of the connection (ASSchemaLock); false when the wait timed out.
  virtual bool LockName(const std::string& name, int timeoutSeconds) = 0;
  virtual void UnlockName(const std::string& name) = 0;
  // The plan of `sql` with `params`, step by step.
  virtual std::vector<ASPlanStep> Explain(const std::string& sql,
                                          const std::vector<ASBindValue>& params) = 0;

  // Copies of whole tables (ASTableCopy.cpp).
  // A select whose one parameter is a table's name; it finds a row when the table exists.
  virtual std::string TableExistsSql() const = 0;
  // A select whose one parameter is a table's name; its one row holds the largest value the
  // table's auto-increment column has handed out (no row, NULL or 0: none yet).
  virtual std::string AutoIncrementUsedSql() const = 0;
  // Statements without parameters after which the table's auto-increment column hands out
  // values above `used` (and never lower ones than it would have before).
  virtual std::vector<std::string> ReserveAutoIncrementSql(const ASDomain& table,
                                                           long long used) const = 0;
  // The most parameters one statement may have.
  virtual size_t MaxParameters() const = 0;
};

// Drivers register a factory for their URL scheme ("sqlite", "mysql", "fault").
// `instance` is unique per ASDatabase, so that connections of one pool can find each other
// (in-memory SQLite databases shared by the pool's threads).
using ASDriverFactory = std::unique_ptr<ASDriverConnection> (*)(const std::string& url,
                                                               unsigned long instance);

struct ASDriverRegistration {
  ASDriverRegistration(const char* scheme, ASDriverFactory factory);
};

// Opens a connection for a URL of any registered scheme; throws AException for others.
std::unique_ptr<ASDriverConnection> ASOpenConnection(const std::string& url,
                                                     unsigned long instance);
