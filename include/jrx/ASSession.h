// Sessions (one connection each), transactions that nest, the schema lock, and what a session
// tells of a table's layout and a statement's plan.
//
// Thread safety: a session belongs to one thread at a time (ASDatabase gives each thread its
// own); only its reference count may be touched from several threads.
// Ownership: a session owns its connection and its prepared statements, and is shared
// through boost::intrusive_ptr; ASTransaction and ASSchemaLock borrow it.
// REQUIRES: a session outlives the cursors, transactions and locks made on it.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ASValue.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

class ASDomain;
class ASDriverConnection;

// The name of a table's primary key in plan hints and plan steps, on every database.
extern const char* const ASPrimaryKey;

// A table as the database's catalogue describes it (ASSession::DescribeTable), or as a domain
// wants it to be. Column types are the dialect's own words, lower case, without display
// widths; an index column read through a prefix is written "name(bytes)".
struct ASIndexLayout {
  std::string name;
  bool unique = false;
  std::vector<std::string> columns;
  bool operator==(const ASIndexLayout& o) const {
    return name == o.name && unique == o.unique && columns == o.columns;
  }
};
struct ASColumnLayout {
  std::string name;
  std::string type;
};
struct ASTableLayout {
  bool exists = false;
  std::vector<ASColumnLayout> columns;
  std::vector<std::string> primaryKey;  // empty: none of its own
  std::vector<ASIndexLayout> indexes;   // the primary key not among them
  const ASColumnLayout* Column(const std::string& name) const;
  const ASIndexLayout* Index(const std::string& name) const;
};

// One step of a statement's plan as the database tells it: the table (as the statement
// names it: alias or table name), the index it is read through (ASPrimaryKey for the table's
// own key, empty for none), whether the whole table or index is walked, and whether the step
// sorts rows of its own (a temporary sort or b-tree). `detail` is the database's text.
struct ASPlanStep {
  std::string table;
  std::string index;
  bool fullScan = false;
  bool sorts = false;
  std::string detail;
};

struct ASPlan {
  std::string sql;
  std::vector<ASPlanStep> steps;
};

// One connection, used by one thread at a time.
class ASSession {
 public:
  explicit ASSession(std::unique_ptr<ASDriverConnection> connection);
  virtual ~ASSession();
  ASSession(const ASSession&) = delete;
  ASSession& operator=(const ASSession&) = delete;

  // Inserts one row from the value members of the domain's insert columns.
  void Insert(ASDomain& domain);
  // The same, unless a row with the same unique key exists: then nothing is written and
  // the answer is false. A concurrent insert of that key that is not yet committed is
  // waited for (MariaDB) or cannot happen (SQLite writers hold the file's write lock), so
  // a false answer means the other row is there to be read by the next statement of a
  // write transaction.
  bool InsertNew(ASDomain& domain);
  long long GetInsertId();

  // Creates the table and its indexes when missing (dialect DDL from the domain).
  void CreateTable(const ASDomain& domain);
  ASTableLayout DescribeTable(const std::string& table);
  // Gives the free pages of the database back to the file system, outside a transaction;
  // false where the database does not keep them in its file (MariaDB: its tables do).
  bool Vacuum();
  // Brings the table to the domain's layout in place, creating it when missing: adds the
  // columns it lacks, gives columns the domain's types and the table the domain's primary
  // key, creates missing indexes and drops those of the table's own naming ("table_...")
  // that the domain no longer has or has otherwise. Rows are kept; a row that the new key
  // would refuse makes it fail (nothing changed on SQLite, where it runs inside the
  // caller's transaction; on MariaDB each table changes in one statement). Answers what it
  // changed, one line each (nothing when the table was as wanted).
  std::vector<std::string> ReshapeTable(const ASDomain& domain);
  const char* Dialect() const;  // "sqlite" or "mariadb"
  // Administrative statements without values (tests, tools): CREATE/DROP DATABASE and such.
  void ExecuteSql(const std::string& sql);
  // While `sink` is set, every SELECT, UPDATE and DELETE the session runs is also explained
  // and its plan appended there (tests of plans; not for production use).
  // REQUIRES: `sink` outlives the recording (until RecordPlans(nullptr)).
  void RecordPlans(std::vector<ASPlan>* sink) { plans_ = sink; }

  // Transactions; used through ASTransaction, which nests them as savepoints.
  int TransactionDepth() const { return depth_; }
  ASDriverConnection& Connection() { return *conn_; }

  void AddRef() const;
  void Release() const;

 private:
  friend class ASTransaction;
  friend struct ASSessionAccess;
  struct Statements;
  std::unique_ptr<ASDriverConnection> conn_;
  std::unique_ptr<Statements> statements_;  // prepared statements by SQL text
  bool lost_ = false;                       // the connection went away; reconnect when safe
  int depth_ = 0;
  std::vector<ASPlan>* plans_ = nullptr;
  mutable std::atomic<int> refs_{0};
};

inline void intrusive_ptr_add_ref(const ASSession* s) { s->AddRef(); }
inline void intrusive_ptr_release(const ASSession* s) { s->Release(); }

// Held while a process brings a database's layout up to date, so that several processes
// opening the same old database change it one after the other: MariaDB's named lock of the
// session (it outlives the transactions of the session; DDL commits them), nothing on
// SQLite, where the write transaction holding the whole file is the lock. A wait longer
// than `timeoutSeconds` throws AException.
class ASSchemaLock {
 public:
  ASSchemaLock(ASSession* session, const std::string& name, int timeoutSeconds = 300);
  ~ASSchemaLock();
  ASSchemaLock(const ASSchemaLock&) = delete;
  ASSchemaLock& operator=(const ASSchemaLock&) = delete;

 private:
  ASSession* session_;
  std::string name_;
};

// What an outermost transaction will do, which decides how it meets other sessions' work:
//   AS_TRAN_WRITE  SQLite: takes the file's write lock as it begins (BEGIN IMMEDIATE), so a
//                  busy file is waited for within the busy timeout there and not failed
//                  halfway. MariaDB: READ COMMITTED, so that its searches lock the rows
//                  they find and no gaps between them, and each statement sees what other
//                  sessions committed before it (a row another writer inserted first).
//   AS_TRAN_READ   never writes; one consistent picture of the database for all its
//                  statements, without waiting for writers or holding them up (SQLite:
//                  a deferred transaction on the WAL; MariaDB: a read-only REPEATABLE READ
//                  snapshot).
// A nested transaction is a savepoint of the outermost one and takes its mode.
enum ASTransactionMode { AS_TRAN_WRITE, AS_TRAN_READ };

// A transaction that nests: the outermost begins and commits; an inner one is a savepoint
// whose Commit() releases it and whose destruction without Commit() rolls back to it.
// An outermost transaction destroyed without Commit() rolls everything back.
// REQUIRES: transactions of one session end in the reverse order of their making.
class ASTransaction {
 public:
  explicit ASTransaction(ASSession* session, ASTransactionMode mode = AS_TRAN_WRITE);
  ~ASTransaction();
  ASTransaction(const ASTransaction&) = delete;
  ASTransaction& operator=(const ASTransaction&) = delete;
  void Commit();
  ASSession* Session() const { return session_; }
  int Level() const { return level_; }

 private:
  ASSession* session_;
  int level_;
  bool done_ = false;
};

JRX_PUBLIC_END
