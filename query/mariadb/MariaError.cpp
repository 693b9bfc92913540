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

void mariaThrow(MYSQL* db) {
  unsigned code = mysql_errno(db);
  std::string text = mysql_error(db);
  if (text.empty()) text = "MariaDB error " + std::to_string(code);
  throw AException(text, static_cast<int>(code), mariaConnectionLost(code));
}

void mariaThrow(MYSQL_STMT* stmt) {
  unsigned code = mysql_stmt_errno(stmt);
  std::string text = mysql_stmt_error(stmt);
  if (text.empty()) text = "MariaDB error " + std::to_string(code);
  throw AException(text, static_cast<int>(code), mariaConnectionLost(code));
}
