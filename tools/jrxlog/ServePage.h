// The page of `jrxlog serve`: one document (at "/"), its script, its style sheet and the
// charting library, each at "/NAME" of its file in tools/jrxlog/web/, all held in the binary,
// so the view needs no installed files and loads nothing from elsewhere. The scripts are
// files of their own because the page's policy allows no inline script.
#pragma once

namespace httplib {
class Server;
}

namespace jrxlog {

void addPageRoutes(httplib::Server& server);

}  // namespace jrxlog
