// The JSON API of `jrxlog serve`: the listings of `ops` and `events` with their options as
// query parameters, and one operation's history. Answers carry the records exactly as the
// listings print them with --json.
#pragma once

namespace httplib {
class Server;
}

namespace jrxlog {

void addApiRoutes(httplib::Server& server);

}  // namespace jrxlog
