#include "ServeSafety.h"

#include <arpa/inet.h>
#include <httplib.h>

#include "ServeReplies.h"

namespace jrxlog {

namespace {

const char* const kCookie = "jrxlog_token";

// Compares in time independent of where the texts differ.
bool sameSecret(const std::string& a, const std::string& b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i)
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  return diff == 0;
}

// The value of one cookie from the Cookie header, or "".
std::string cookieValue(const httplib::Request& req, const std::string& name) {
  std::string header = req.get_header_value("Cookie");
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find(';', pos);
    if (end == std::string::npos) end = header.size();
    std::string pair = header.substr(pos, end - pos);
    size_t start = pair.find_first_not_of(' ');
    if (start != std::string::npos) pair.erase(0, start);
    if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
    pos = end + 1;
  }
  return "";
}

// The host part of a Host header: "[::1]:8080" -> "::1", "localhost:80" -> "localhost".
std::string hostPart(const std::string& header) {
  if (!header.empty() && header[0] == '[') {
    size_t close = header.find(']');
    return close == std::string::npos ? header : header.substr(1, close - 1);
  }
  return header.substr(0, header.find(':'));
}

bool authorised(const httplib::Request& req, const std::string& token) {
  std::string auth = req.get_header_value("Authorization");
  const std::string scheme = "Bearer ";
  if (auth.compare(0, scheme.size(), scheme) == 0 && sameSecret(auth.substr(scheme.size()), token))
    return true;
  std::string cookie = cookieValue(req, kCookie);
  return !cookie.empty() && sameSecret(cookie, token);
}

}  // namespace

bool isLoopbackHost(const std::string& host) {
  std::string h = host;
  if (h.size() > 1 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, h.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

void applySafety(httplib::Server& server, const ServeSafety& safety) {
  server.set_default_headers({
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
       "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"X-Frame-Options", "DENY"},
  });
  server.set_pre_routing_handler([safety](const httplib::Request& req, httplib::Response& res) {
    using R = httplib::Server::HandlerResponse;
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      replyError(res, 405, "read-only: " + req.method + " is not served");
      return R::Handled;
    }
    if (safety.loopback && !isLoopbackHost(hostPart(req.get_header_value("Host")))) {
      replyError(res, 403, "this server answers to loopback host names only");
      return R::Handled;
    }
    if (safety.token.empty()) return R::Unhandled;
    // A browser cannot send a header when it opens a link, so "/?token=..." trades the token
    // for a cookie that only this origin's own requests carry.
    if (req.path == "/" && req.has_param("token") &&
        sameSecret(req.get_param_value("token"), safety.token)) {
      res.set_header("Set-Cookie", std::string(kCookie) + "=" + safety.token +
                                       "; Path=/; HttpOnly; SameSite=Strict");
      res.set_redirect("/", 303);
      return R::Handled;
    }
    if (authorised(req, safety.token)) return R::Unhandled;
    res.set_header("WWW-Authenticate", "Bearer");
    replyError(res, 401, "a bearer token is required");
    return R::Handled;
  });
  server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    replyError(res, res.status,
               res.status == 404 ? "nothing served at " + req.path : "the request failed");
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "internal error";
        try {
          std::rethrow_exception(ep);
        } catch (const std::exception& e) {
          what = e.what();
        } catch (...) {
        }
        replyError(res, 500, what);
      });
}

}  // namespace jrxlog
