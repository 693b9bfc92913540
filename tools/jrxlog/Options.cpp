#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <sstream>


namespace jrxlog {

const char* const kDefaultDatabase = "sqlite:jrxlog.db";

long long parseInteger(const std::string& option, const std::string& text, long long min,
                       long long max) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < min || v > max)
    throw UsageError("--" + option + ": expected a whole number from " + std::to_string(min) +
                     " to " + std::to_string(max) + ", got '" + text + "'");
  return v;
}

namespace {

// "YYYY-MM-DD[( |T)HH:MM[:SS]][Z]"; false when the text is not such a date.
bool parseDate(const std::string& text, int64_t& out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int used = 0;
  std::string t = text;
  bool utc = !t.empty() && (t.back() == 'Z' || t.back() == 'z');
  if (utc) t.pop_back();
  if (std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3) return false;
  if (static_cast<size_t>(used) != t.size()) {
    sep = t[used];
    if (sep != ' ' && sep != 'T') return false;
    int used2 = 0;
    std::string rest = t.substr(used + 1);
    if (std::sscanf(rest.c_str(), "%2d:%2d:%2d%n", &h, &mi, &s, &used2) == 3) {
      if (static_cast<size_t>(used2) != rest.size()) return false;
    } else if (std::sscanf(rest.c_str(), "%2d:%2d%n", &h, &mi, &used2) == 2) {
      if (static_cast<size_t>(used2) != rest.size()) return false;
    } else {
      return false;
    }
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 || mi < 0 ||
      s < 0)
    return false;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  out = utc ? static_cast<int64_t>(timegm(&tm)) : static_cast<int64_t>(std::mktime(&tm));
  return true;
}

// "30", "30s", "5m", "2h", "1d" as seconds; false otherwise.
bool parseSeconds(const std::string& text, long long& out) {
  if (text.empty()) return false;
  std::string digits = text;
  long long unit = 1;
  switch (digits.back()) {
    case 's': unit = 1; digits.pop_back(); break;
    case 'm': unit = 60; digits.pop_back(); break;
    case 'h': unit = 3600; digits.pop_back(); break;
    case 'd': unit = 86400; digits.pop_back(); break;
    default: break;
  }
  if (digits.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(digits.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  if (v > 0 && v > (1LL << 40) / unit) return false;
  if (v < 0 && v < -(1LL << 40) / unit) return false;
  out = v * unit;
  return true;
}

}  // namespace

namespace {

bool timeText(const std::string& text, int64_t& out) {
  if (text == "now") {
    out = static_cast<int64_t>(std::time(nullptr));
    return true;
  }
  if (parseDate(text, out)) return true;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    char unit = text.back();
    long long secs = 0;
    if ((unit == 's' || unit == 'm' || unit == 'h' || unit == 'd') && parseSeconds(text, secs)) {
      out = static_cast<int64_t>(std::time(nullptr)) + secs;
      return true;
    }
  }
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE) return false;
  out = n;
  return true;
}

}  // namespace

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
