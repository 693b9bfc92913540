// How `jrxlog serve` answers a request it does not serve: a JSON object naming what went
// wrong, so that scripts read failures the same way as records.
#pragma once

#include <string>

namespace httplib {
struct Response;
}

namespace jrxlog {

// {"error": message} with `status`; `code` (a service's result code) is added when not 0.
void replyError(httplib::Response& res, int status, const std::string& message, int code = 0);

}  // namespace jrxlog
