// Command line of jrxlog: global options (database, identity, rights) that may stand anywhere,
// one command (`compact` takes a second word), and that command's own options.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

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

// Exit status 0 without running a command: --help, --version, `help`, `completion`; the text
// goes to standard output.
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

class CommandLine {
 public:
  // Parses and checks argv against the command table (CommandTable.h), so that a mistake is
  // reported before anything is opened. Throws UsageError or TextRequested.
  static CommandLine parse(int argc, char** argv);

  const GlobalOptions& global() const { return global_; }
  // The command's first word; a second word ("compact ops") is the first positional.
  const std::string& command() const { return command_; }
  const std::vector<std::string>& positional() const { return positional_; }

  bool has(const std::string& name) const { return values_.count(name) != 0; }
  // The option's value, or `fallback` when it was not given.
  std::string value(const std::string& name, const std::string& fallback = "") const;

 private:
  GlobalOptions global_;
  std::string command_;
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
};

// The help of jrxlog (empty command) or of a command ("ops", "compact ops").
std::string helpText(const std::string& command = "");
// The bash completion script, made from the command table.
std::string bashCompletion();

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
