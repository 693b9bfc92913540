#include "JRXConversions.h"
#include "ASHex.h"

namespace JRX {

std::string sidToSql(const JRXSID& sid) {
  std::string out;
  ASAppendHex(out, sid.data.data(), sid.data.size());
  return out;
}

JRXSID sqlToSid(const Str& text) {
  JRXSID sid;
  const std::string& s = text.str();
  size_t i = 0;
  while (i < s.size()) {
    int hi = ASHexValue(s[i]);
    int lo = i + 1 < s.size() ? ASHexValue(s[i + 1]) : -1;
    if (hi >= 0 && lo >= 0) {
      sid.data.push_back(static_cast<unsigned char>(hi << 4 | lo));
      i += 2;
    } else {
      ++i;
    }
  }
  return sid;
}

Guid guidToRDBMSGuid(const JRXGUIDBase& g) {
  unsigned long long first, second;
  g.getData(first, second);
  return Guid(first, second);
}

JRXGUID rdbmsGuidToGuid(const Guid& g) {
  return JRXGUID(static_cast<long long>(g.First()), static_cast<long long>(g.Second()));
}

namespace IPv6Format {

SQLString::SQLString(const JRXIPv6& address) : address_(address) {}

std::string SQLString::text() const { return address_.toString(); }

std::string SQLString::binary() const {
  return std::string(reinterpret_cast<const char*>(address_.bytes), 16);
}

}  // namespace IPv6Format

}  // namespace JRX
