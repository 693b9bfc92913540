// What `jrxlog serve` checks before it routes a request, and the headers every answer
// carries: only reads (GET, HEAD), only its own host names while it listens on loopback (a
// page elsewhere cannot reach it by pointing a name of its own at 127.0.0.1), the bearer
// token when one is set, and a Content-Security-Policy under which the page runs no script
// but its own.
#pragma once

#include <string>

namespace httplib {
class Server;
}

namespace jrxlog {

struct ServeSafety {
  bool loopback = true;  // the listening address is a loopback address
  std::string token;     // empty: no token required
};

void applySafety(httplib::Server& server, const ServeSafety& safety);

// Whether `host` (a name or an address, IPv6 in brackets or not) is a loopback one.
bool isLoopbackHost(const std::string& host);

}  // namespace jrxlog
