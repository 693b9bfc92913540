#include "ServeSafety.h"

#include <arpa/inet.h>
#include <httplib.h>

#include <boost/algorithm/string.hpp>
#include <iostream>
#include <iterator>

#include "ServeReplies.h"

namespace jrxlog {

namespace {

const char* const kCookie = "jrxlog_token";

// Compares in a time that depends on the secret's length only, never on where the texts
// differ or on how long the given one is.
bool sameSecret(const std::string& given, const std::string& secret) {
  unsigned char diff = given.size() == secret.size() ? 0 : 1;
  for (size_t i = 0; i < secret.size(); ++i)
    diff |= static_cast<unsigned char>(secret[i] ^ (i < given.size() ? given[i] : 0));
  return diff == 0;
}

// The whole value of a header given once; the library's own getter ends it at a NUL byte
// (which its decoding makes of "%00"), so that "TOKEN\0anything" would pass for the token.
bool soleHeader(const httplib::Request& req, const char* name, std::string& value) {
  auto range = req.headers.equal_range(name);
  if (range.first == range.second || std::next(range.first) != range.second) return false;
  value = range.first->second;
  return true;
}

// The value of one cookie from the Cookie header, or "".
std::string cookieValue(const httplib::Request& req, const std::string& name) {
  std::string header;
  std::vector<std::string> pairs;
  if (soleHeader(req, "Cookie", header)) boost::split(pairs, header, boost::is_any_of(";"));
  for (std::string& pair : pairs) {
    boost::trim_left_if(pair, boost::is_any_of(" "));
    if (boost::starts_with(pair, name + "=")) return pair.substr(name.size() + 1);
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
  std::string auth;
  if (soleHeader(req, "Authorization", auth)) return sameSecret(auth, "Bearer " + token);
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
  // What failed may name files and sockets of this host: it goes to the server's own
  // standard error, not to the client.
  server.set_exception_handler(
      [](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown exception";
        try {
          std::rethrow_exception(ep);
        } catch (const std::exception& e) {
          what = e.what();
        } catch (...) {
        }
        std::cerr << req.method << ' ' << req.path << ": " << what << '\n';
        replyError(res, 500, "internal error; the server's log says what failed");
      });
}

}  // namespace jrxlog
