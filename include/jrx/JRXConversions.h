// Conversions of framework values to and from their database column forms.
#pragma once

#include <string>

#include "ASQuery.h"
#include "JRXGUID.h"
#include "JRXRecords.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

// Security identifiers as lower-case hex text; sqlToSid ignores what is not a hex pair.
std::string sidToSql(const JRXSID& sid);
JRXSID sqlToSid(const Str& text);

// GUIDs as the query library's 16-byte Guid: (first, second) as getData returns them.
Guid guidToRDBMSGuid(const JRXGUIDBase& g);
JRXGUID rdbmsGuidToGuid(const Guid& g);

namespace IPv6Format {
class SQLString {
 public:
  explicit SQLString(const JRXIPv6& address);
  std::string text() const;    // the usual textual address (IPv4-mapped as ::ffff:a.b.c.d)
  std::string binary() const;  // the 16 bytes
 private:
  JRXIPv6 address_;
};
}  // namespace IPv6Format

}  // namespace JRX

JRX_PUBLIC_END
