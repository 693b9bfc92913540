#include "Options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <limits>
#include <sstream>

#include "CommandTable.h"
#include "Commands.h"
#include "JRXGUID.h"

namespace jrxlog {

const char* const kDefaultDatabase = "sqlite:jrxlog.db";

namespace {

#ifndef JRXLOG_VERSION
#define JRXLOG_VERSION "unknown"
#endif

// The checks of the option values, as CLI11 validators; the option's name is added by CLI11.
std::string problem(const OptionSpec& o, const std::string& text) {
  try {
    switch (o.kind) {
      case ValueKind::Integer: parseInteger(o.name, text, o.min, o.max); break;
      case ValueKind::Time: parseTime(o.name, text); break;
      case ValueKind::Duration: parseDuration(o.name, text); break;
      case ValueKind::Interval: parseInterval(o.name, text); break;
      case ValueKind::Listen: parseListen(text); break;
      case ValueKind::TokenFile: readToken(text); break;
      case ValueKind::Guid: {
        JRX::JRXEID eid;
        if (eid.fromString(text.c_str()) != 0)
          return "not a GUID (8-4-4-4-12 hex digits): '" + text + "'";
        break;
      }
      default: break;
    }
  } catch (const UsageError& e) {
    std::string m = e.what();
    auto colon = m.find(": ");
    return colon == std::string::npos ? m : m.substr(colon + 2);
  }
  return "";
}

// The CLI11 application built from the command table, and where it puts what it parses.
struct Parser {
  CLI::App app{kToolDescription, "jrxlog"};
  std::map<const CLI::App*, const CommandSpec*> specs;
  std::map<const CLI::Option*, std::pair<std::string, bool>> names;  // -> name, is a flag
  std::deque<std::string> texts;                    // values of options and arguments
  std::deque<std::vector<std::string>> words;
  std::map<std::string, std::string*> global;

  Parser() {
    app.set_help_flag("-h,--help", "show this help and exit");
    app.set_version_flag("--version", std::string("jrxlog ") + JRXLOG_VERSION,
                         "show the version and exit");
    app.fallthrough();  // global options may follow the command
    app.require_subcommand(0, 1);
    app.footer(kToolFooter);
    app.get_formatter()->column_width(28);
    app.get_formatter()->label("Subcommands", "Commands");
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    for (const OptionSpec& o : globalOptionSpecs()) global[o.name] = &add(app, o);
    app.get_option("--acl")->needs(app.get_option("--client"));
    app.get_option("--client")->needs(app.get_option("--acl"));
    for (const CommandSpec& c : commandSpecs()) {
      CLI::App* parent = &app;
      std::string name = c.name;
      auto space = name.find(' ');
      if (space != std::string::npos) {
        parent = app.get_subcommand(name.substr(0, space));
        name = name.substr(space + 1);
      }
      CLI::App* sub = parent->add_subcommand(name, c.help);
      specs[sub] = &c;
      sub->footer(c.footer);  // not the tool's own, which CLI11 would hand down
      for (const OptionSpec& o : c.options) add(*sub, o);
      for (const ArgumentSpec& a : c.arguments) {
        CLI::Option* opt;
        if (a.words) {
          words.emplace_back();
          opt = sub->add_option(a.name, words.back(), a.help);
        } else {
          texts.emplace_back();
          opt = sub->add_option(a.name, texts.back(), a.help);
        }
        if (a.required) opt->required();
        names[opt] = {a.name, false};
      }
    }
    app.get_subcommand("compact")->require_subcommand(0, 1);
  }

  std::string& add(CLI::App& to, const OptionSpec& o) {
    texts.emplace_back();
    CLI::Option* opt;
    const std::string spelled =
        (o.shortName ? std::string("-") + o.shortName + "," : std::string()) + "--" + o.name;
    if (o.kind == ValueKind::Flag) {
      opt = to.add_flag(spelled, o.help);
    } else {
      opt = to.add_option(spelled, texts.back(), o.help)->type_name(o.valueName);
      opt->check(CLI::Validator([o](std::string& v) { return problem(o, v); }, "", o.name));
      if (!o.envName.empty()) opt->envname(o.envName);
    }
    if (o.required) opt->required();
    names[opt] = {o.name, o.kind == ValueKind::Flag};
    return texts.back();
  }

  // "ops", "compact ops": the command the parsed line selected, and its CLI11 subcommand.
  CLI::App* selected(std::string& name) {
    CLI::App* at = &app;
    while (!at->get_subcommands().empty()) {
      at = at->get_subcommands().front();
      name += (name.empty() ? "" : " ") + at->get_name();
    }
    return at == &app ? nullptr : at;
  }

  CLI::App* find(const std::string& command) {
    CLI::App* at = &app;
    std::string rest = command;
    while (!rest.empty()) {
      auto space = rest.find(' ');
      std::string word = rest.substr(0, space);
      rest = space == std::string::npos ? "" : rest.substr(space + 1);
      try {
        at = at->get_subcommand(word);
      } catch (const CLI::OptionNotFound&) {
        return nullptr;
      }
    }
    return at;
  }
};

}  // namespace

std::string helpText(const std::string& command) {
  Parser p;
  CLI::App* at = p.find(command);
  if (!at) throw UsageError("no command '" + command + "'");
  if (at == &p.app) return at->help();
  auto space = command.rfind(' ');
  return at->help(space == std::string::npos ? "jrxlog" : "jrxlog " + command.substr(0, space));
}

CommandLine CommandLine::parse(int argc, char** argv) {
  Parser p;
  std::string name;
  try {
    p.app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    throw TextRequested(p.app.help());
  } catch (const CLI::CallForVersion& e) {
    throw TextRequested(std::string(e.what()) + "\n");
  } catch (const CLI::ParseError& e) {
    p.selected(name);
    throw UsageError(e.what(), name.empty() ? "jrxlog --help" : "jrxlog " + name + " --help");
  }
  CLI::App* sub = p.selected(name);
  if (!sub) throw UsageError("a command is required");

  CommandLine cl;
  // An empty URL (a variable that was meant to hold one and does not) must not quietly
  // become the default database in whatever folder the tool runs in.
  cl.global_.db = *p.global["db"];
  const char* dbVariable = std::getenv("JRXLOG_DB");
  if (p.app.get_option("--db")->count() != 0 && cl.global_.db.empty())
    throw UsageError("--db: the database URL is empty");
  if (p.app.get_option("--db")->count() == 0 && dbVariable && !*dbVariable)
    throw UsageError("JRXLOG_DB is set but empty: name a database URL, or unset it for the "
                     "default " + std::string(kDefaultDatabase));
  if (cl.global_.db.empty()) cl.global_.db = kDefaultDatabase;
  cl.global_.localEid = *p.global["local-eid"];
  cl.global_.aclFile = *p.global["acl"];
  cl.global_.client = *p.global["client"];
  cl.global_.logFile = *p.global["log-file"];
  cl.global_.verbose = p.app.get_option("--verbose")->count() > 0;

  auto space = name.find(' ');
  cl.command_ = name.substr(0, space);
  if (space != std::string::npos) cl.positional_.push_back(name.substr(space + 1));
  for (const CLI::Option* opt : sub->get_options()) {
    auto n = p.names.find(opt);
    if (n == p.names.end() || opt->count() == 0) continue;
    if (opt->get_positional()) {
      for (const std::string& r : opt->results()) cl.positional_.push_back(r);
    } else {
      cl.values_[n->second.first] = n->second.second ? "" : opt->results().front();
    }
  }

  if (cl.command_ == "help" && cl.has("all")) {
    std::string all;
    for (const CommandSpec& c : commandSpecs())
      all += "jrxlog " + c.name + "\n" + helpText(c.name) + "\n";
    throw TextRequested(all);
  }
  if (cl.command_ == "help") {
    std::string which;
    for (const std::string& w : cl.positional_) which += (which.empty() ? "" : " ") + w;
    throw TextRequested(helpText(which));
  }
  if (cl.command_ == "completion") {
    if (!cl.positional_.empty() && cl.positional_[0] != "bash")
      throw UsageError("completion is made for bash only, not '" + cl.positional_[0] + "'",
                       "jrxlog completion --help");
    throw TextRequested(bashCompletion());
  }
  return cl;
}

void expectPositional(const CommandLine& cl, size_t min, size_t max, const char* what) {
  size_t n = cl.positional().size();
  if (n < min || n > max) throw UsageError(what);
}

std::string CommandLine::value(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

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
