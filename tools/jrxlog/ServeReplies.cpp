#include "ServeReplies.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

namespace jrxlog {

void replyError(httplib::Response& res, int status, const std::string& message, int code) {
  nlohmann::ordered_json body;
  body["error"] = message;
  if (code != 0) body["code"] = code;
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(
      body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n",
      "application/json; charset=utf-8");
}

}  // namespace jrxlog
