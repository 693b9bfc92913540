// Database access of the framework: one process-wide database (a per-thread connection
// pool of the query library) and transactions on the calling thread's connection.
#pragma once

#include <boost/intrusive_ptr.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

typedef ::ASSession JRXRdbms;

class JRXDatabase {
 public:
  // Opens the process-wide database (URL forms of ASDatabase), creates the framework's own
  // tables when missing, and loads the local environment identifier (made and stored on
  // first creation) and the environment directory. Throws AException.
  static void open(const std::string& url);
  static void close();
  static bool isOpen();
  static std::shared_ptr<ASDatabase> get();  // throws AException when none is open
  // The framework's own tables, as open() creates them (a copy of a whole database takes
  // them along).
  static std::vector<std::unique_ptr<ASDomain>> tables();
};

// A transaction on the calling thread's connection. Transactions nest: one opened while
// another is open on the same thread becomes a savepoint of it. Destroyed without commit()
// it rolls back (to its savepoint when nested). Throws AException when no database is open
// or the database fails.
class JRXRdbmsTran {
 public:
  // A transaction that only reads passes AS_TRAN_READ (ASQuery.h tells what each mode does).
  explicit JRXRdbmsTran(ASTransactionMode mode = AS_TRAN_WRITE);
  ~JRXRdbmsTran();
  JRXRdbmsTran(const JRXRdbmsTran&) = delete;
  JRXRdbmsTran& operator=(const JRXRdbmsTran&) = delete;
  void commit();
  JRXRdbms* operator*() const { return session_.get(); }
  boost::intrusive_ptr<JRXRdbms> operator->() const { return session_; }

 private:
  // The calling thread's hold on the database, which it keeps while any of its
  // transactions is open.
  void* thread_;
  boost::intrusive_ptr<JRXRdbms> session_;
  std::optional<ASTransaction> tran_;  // in place: one is made for every call
};

// The framework's handling of a database failure: logs it, drops a lost connection so that
// the next transaction reconnects, and returns the result code 3101.
int onRdbmsError(const AException& e);

}  // namespace JRX

JRX_PUBLIC_END
