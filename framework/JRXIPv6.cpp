#include <arpa/inet.h>

#include <cstring>

#include "JRXRecords.h"

namespace JRX {

int JRXIPv6::fromString(const std::string& text) {
  unsigned char parsed[16];
  if (inet_pton(AF_INET6, text.c_str(), parsed) == 1) {
    std::memcpy(bytes, parsed, 16);
    return 0;
  }
  unsigned char v4[4];
  if (inet_pton(AF_INET, text.c_str(), v4) == 1) {
    std::memset(bytes, 0, 10);
    bytes[10] = 0xff;
    bytes[11] = 0xff;
    std::memcpy(bytes + 12, v4, 4);
    return 0;
  }
  return -1;
}

std::string JRXIPv6::toString() const {
  char buf[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, bytes, buf, sizeof buf)) return std::string();
  return buf;
}

bool JRXIPv6::operator==(const JRXIPv6& o) const { return std::memcmp(bytes, o.bytes, 16) == 0; }

}  // namespace JRX
