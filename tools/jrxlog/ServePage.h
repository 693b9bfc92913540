// The page of `jrxlog serve`: one document, its script and its style sheet, all held in the
// binary, so the view needs no installed files and loads nothing from elsewhere. The script
// is its own path because the page's policy allows no inline script.
#pragma once

namespace httplib {
class Server;
}

namespace jrxlog {

void addPageRoutes(httplib::Server& server);

}  // namespace jrxlog
