#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <sstream>

namespace jrxlog {

const char* const kDefaultDatabase = "sqlite:jrxlog.db";

namespace {

// "YYYY-MM-DD[( |T)HH:MM[:SS]][Z]"; false when the text is not such a date.
bool parseDate(std::string t, int64_t& out) {
  const bool utc = !t.empty() && (t.back() == 'Z' || t.back() == 'z');
  if (utc) t.pop_back();
  for (const char* format : {"%Y-%m-%d", "%Y-%m-%d %H:%M", "%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M",
                             "%Y-%m-%dT%H:%M:%S"}) {
    std::tm tm{};
    const char* end = strptime(t.c_str(), format, &tm);
    if (!end || *end) continue;
    tm.tm_isdst = -1;
    out = utc ? timegm(&tm) : std::mktime(&tm);
    return true;
  }
  return false;
}

// A whole number, the whole text.
bool wholeNumber(const std::string& text, long long& out) {
  errno = 0;
  char* end = nullptr;
  out = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno != ERANGE;
}

// "30", "30s", "5m", "2h", "1d" as seconds; false otherwise.
bool parseSeconds(std::string digits, long long& out) {
  static const std::string units = "smhd";
  static const long long seconds[] = {1, 60, 3600, 86400};
  const size_t unit = digits.empty() ? std::string::npos : units.find(digits.back());
  if (unit != std::string::npos) digits.pop_back();
  const long long scale = unit == std::string::npos ? 1 : seconds[unit];
  long long v = 0;
  if (!wholeNumber(digits, v) || v > (1LL << 40) / scale || v < -(1LL << 40) / scale) return false;
  out = v * scale;
  return true;
}

bool timeText(const std::string& text, int64_t& out) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const bool offset = !text.empty() && (text[0] == '-' || text[0] == '+') &&
                      std::string("smhd").find(text.back()) != std::string::npos;
  long long n = 0;
  if (text == "now") {
    out = now;
  } else if (!parseDate(text, out)) {
    if (offset && parseSeconds(text, n))
      out = now + n;
    else if (wholeNumber(text, n))
      out = n;
    else
      return false;
  }
  return true;
}

}  // namespace

long long parseInteger(const std::string& option, const std::string& text, long long min,
                       long long max) {
  long long v = 0;
  if (!wholeNumber(text, v) || v < min || v > max)
    throw UsageError("--" + option + ": expected a whole number from " + std::to_string(min) +
                     " to " + std::to_string(max) + ", got '" + text + "'");
  return v;
}

int64_t parseTime(const std::string& option, const std::string& text) {
  int64_t v = 0;
  if (!timeText(text, v))
    throw UsageError("--" + option + ": expected seconds since 1970, 'now', a date " +
                     "'YYYY-MM-DD HH:MM:SS' or an offset like '-2h', got '" + text + "'");
  // The log keeps signed 32-bit seconds; a wider bound would wrap to another time.
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw UsageError("--" + option + ": '" + text + "' is outside the times the log keeps (" +
                     std::to_string(std::numeric_limits<int32_t>::min()) + " to " +
                     std::to_string(std::numeric_limits<int32_t>::max()) + " seconds since 1970)");
  return v;
}

long long parseDuration(const std::string& option, const std::string& text) {
  long long v = 0;
  if (!parseSeconds(text, v) || v > 2147483647LL || v < 0)
    throw UsageError("--" + option + ": expected seconds (units s, m, h, d allowed), got '" +
                     text + "'");
  return v;
}

double parseInterval(const std::string& option, const std::string& text) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v) || v <= 0 || v > 86400)
    throw UsageError("--" + option + ": expected a positive number of seconds, got '" + text +
                     "'");
  return v;
}

ListenAddress parseListen(const std::string& text) {
  ListenAddress a;
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0)
    throw UsageError("--listen: expected ADDR:PORT, got '" + text + "'");
  a.host = text.substr(0, colon);
  if (a.host.front() == '[') {
    if (a.host.back() != ']' || a.host.size() < 3)
      throw UsageError("--listen: unbalanced brackets in '" + text + "'");
    a.host = a.host.substr(1, a.host.size() - 2);
  } else if (a.host.find(':') != std::string::npos) {
    throw UsageError("--listen: write an IPv6 address in brackets, as '[::1]:8080'");
  }
  a.port = static_cast<int>(parseInteger("listen", text.substr(colon + 1), 0, 65535));
  return a;
}

std::string readToken(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError("--token-file: cannot read '" + path + "': " + std::strerror(errno));
  std::ostringstream s;
  s << in.rdbuf();
  std::string token = s.str();
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' '))
    token.pop_back();
  if (token.empty()) throw UsageError("--token-file: '" + path + "' holds no token");
  for (unsigned char c : token)
    if (c <= 0x20 || c >= 0x7f || c == ';' || c == ',' || c == '"' || c == '\\')
      throw UsageError(
          "--token-file: the token may hold visible ASCII characters only, "
          "without ; , \" and \\");
  return token;
}

}  // namespace jrxlog
