#pragma once

#include <sqlite3.h>

#include <string>

// Throws AException with SQLite's own message and extended result code.
[[noreturn]] void sqliteThrow(sqlite3* db, int rc, const std::string& context = "");
// The same for a message and code read before they were replaced (by a reset).
[[noreturn]] void sqliteThrow(const std::string& text, int code);
