// What the command line of jrxlog means: its global options, its errors, and the parsers of
// option texts that the command line and the web API share.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace jrxlog {

// Exit status 2: the command line itself is wrong. `helpCommand` is what shows the right use.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& what, std::string helpCommand = "jrxlog --help")
      : std::runtime_error(what), helpCommand_(std::move(helpCommand)) {}
  const std::string& helpCommand() const { return helpCommand_; }

 private:
  std::string helpCommand_;
};

// Exit status 0 without running a command: --help and --version; the text goes to standard
// output.
class TextRequested : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct GlobalOptions {
  std::string db;        // URL; from --db, else JRXLOG_DB, else the default
  std::string localEid;  // text; from --local-eid, else JRXLOG_LOCAL_EID, else empty
  std::string aclFile;
  std::string client;
  std::string logFile;  // from --log-file, else JRXLOG_LOG_FILE
  bool verbose = false;
};

// Value parsers for option texts; each throws UsageError naming the option.
long long parseInteger(const std::string& option, const std::string& text, long long min,
                       long long max);
// Seconds since the epoch: a number, "now", a date "YYYY-MM-DD[ HH:MM[:SS]]" (or with "T")
// in local time ("Z" at the end for UTC), or an offset from now such as "-2h", "-30m".
int64_t parseTime(const std::string& option, const std::string& text);
// Seconds: a number with an optional unit s, m, h or d.
long long parseDuration(const std::string& option, const std::string& text);
// Positive seconds, fractions allowed.
double parseInterval(const std::string& option, const std::string& text);

struct ListenAddress {
  std::string host;  // without brackets
  int port = 0;      // 0: any free port
};
// "ADDR:PORT", with an IPv6 address in brackets: "[::1]:8080".
ListenAddress parseListen(const std::string& text);
// The token is sent in a header and kept in a cookie, so it must be a plain visible word.
std::string readToken(const std::string& path);

extern const char* const kDefaultDatabase;

}  // namespace jrxlog
