// What the framework knows about environments (type and title by identifier). Kept in a
// table of the framework's own when a database is open, and in memory. The local
// environment is always known.
#pragma once

#include <string>

#include "JRXGUID.h"

namespace JRX {

class JRXEnvDirectory {
 public:
  // Records (or replaces) an environment; persisted when a database is open.
  static void put(const JRXEID& eid, const std::string& type, const std::string& title);
  // false when the identifier is unknown.
  static bool lookup(const JRXEID& eid, std::string& type, std::string& title);
  static void clear();  // forgets the in-memory entries (tests)
};

}  // namespace JRX
