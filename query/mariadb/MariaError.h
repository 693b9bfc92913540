#pragma once

#include <mysql.h>

#include "ASQuery.h"

// Throw AException with the server's (or the client library's) own message and error
// number; errors that mean the connection is gone are flagged as such.
[[noreturn]] void mariaThrow(MYSQL* db);
[[noreturn]] void mariaThrow(MYSQL_STMT* stmt);
bool mariaConnectionLost(unsigned code);
ASErrorKind mariaKind(unsigned code);
