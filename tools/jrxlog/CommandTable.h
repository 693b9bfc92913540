// Every command of jrxlog and the options it takes, as data: the parser, the help texts and the
// shell completion are all made from this one table.
#pragma once

#include <string>
#include <vector>

namespace jrxlog {

// What an option's value must be; checked while parsing, before anything is opened.
enum class ValueKind {
  Flag,      // no value
  Text,      // any text
  File,      // a path (completed as a file name)
  Integer,   // a whole number from min to max
  Time,      // parseTime
  Duration,  // parseDuration
  Interval,  // parseInterval
  Guid,      // an environment identifier
  Listen,    // parseListen
  TokenFile, // a file that readToken accepts
};

struct OptionSpec {
  OptionSpec(std::string n, ValueKind k, std::string v, std::string h, long long lo = 0,
             long long hi = 0, bool req = false, std::string env = "")
      : name(std::move(n)), kind(k), valueName(std::move(v)), help(std::move(h)), min(lo),
        max(hi), required(req), envName(std::move(env)) {}
  std::string name;       // without the leading dashes
  ValueKind kind;
  std::string valueName;  // shown in the help: N, T, GUID ...
  std::string help;
  long long min, max;  // for Integer
  bool required;
  std::string envName;  // fallback variable, for global options
  char shortName = 0;   // a one-letter form ("-f"), for the few options typed most
};

// A positional argument; a command takes at most one (of one or more words).
struct ArgumentSpec {
  ArgumentSpec(std::string n, std::string h, bool req, bool f, bool w = false)
      : name(std::move(n)), help(std::move(h)), required(req), file(f), words(w) {}
  std::string name;
  std::string help;
  bool required;
  bool file;  // completed as a file name
  bool words;  // several words
};

struct CommandSpec {
  std::string name;  // "compact ops" for the second word of a command
  std::string help;
  std::vector<OptionSpec> options;
  std::vector<ArgumentSpec> arguments;
  std::string footer;  // further help below the options
};

const std::vector<OptionSpec>& globalOptionSpecs();
const std::vector<CommandSpec>& commandSpecs();

// Help texts too long for the table (Help.cpp).
extern const char* const kToolDescription;
extern const char* const kToolFooter;
extern const char* const kTimeHelp;
extern const char* const kImportFooter;

}  // namespace jrxlog
