#include "MariaError.h"

#include <errmsg.h>
#include <mysqld_error.h>

#include <string>

#include "ASQuery.h"

bool mariaConnectionLost(unsigned code) {
  switch (code) {
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_LOST:
    case CR_CONNECTION_ERROR:
    case CR_CONN_HOST_ERROR:
    case CR_SERVER_LOST_EXTENDED:
    case ER_CONNECTION_KILLED:
    case ER_SERVER_SHUTDOWN:
    case 4031:  // the server closed an idle connection
      return true;
    default:
      return false;
  }
}

ASErrorKind mariaKind(unsigned code) {
  switch (code) {
    // A cluster node that loses a certification conflict reports it as a deadlock too.
    case ER_LOCK_DEADLOCK:
    case ER_LOCK_WAIT_TIMEOUT:
      return AS_ERROR_CONFLICT;
    case ER_DUP_ENTRY:
    case ER_DUP_KEY:
      return AS_ERROR_DUPLICATE_KEY;
    default:
      return AS_ERROR_OTHER;
  }
}

void mariaThrow(MYSQL* db) {
  unsigned code = mysql_errno(db);
  std::string text = mysql_error(db);
  if (text.empty()) text = "MariaDB error " + std::to_string(code);
  throw AException(text, static_cast<int>(code), mariaConnectionLost(code), mariaKind(code));
}

void mariaThrow(MYSQL_STMT* stmt) {
  unsigned code = mysql_stmt_errno(stmt);
  std::string text = mysql_stmt_error(stmt);
  if (text.empty()) text = "MariaDB error " + std::to_string(code);
  throw AException(text, static_cast<int>(code), mariaConnectionLost(code), mariaKind(code));
}
