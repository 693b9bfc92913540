// What the framework knows about environments (type and title by identifier). Kept in a
// table of the framework's own when a database is open, and in memory; opening a database
// replaces the entries in memory with the ones it holds. The local environment is always
// known: type "node" and the host name as title, unless an entry says otherwise.
#pragma once

#include <string>

#include "JRXGUID.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

class JRXEnvDirectory {
 public:
  // Records (or replaces) an environment; persisted when a database is open (throws
  // AException when that fails, and then changes nothing).
  static void put(const JRXEID& eid, const std::string& type, const std::string& title);
  // false when the identifier is unknown.
  static bool lookup(const JRXEID& eid, std::string& type, std::string& title);
  static void clear();  // forgets the in-memory entries (tests)
};

}  // namespace JRX

JRX_PUBLIC_END
