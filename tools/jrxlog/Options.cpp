#include "Options.h"

#include "JRXGUID.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace jrxlog {

const char* const kDefaultDatabase = "sqlite:jrxlog.db";

namespace {

const std::vector<OptionDef> kGlobal = {
    {"db", true}, {"local-eid", true}, {"acl", true}, {"client", true}, {"help", false}};

const std::map<std::string, std::vector<OptionDef>>& commandTable() {
  static const std::map<std::string, std::vector<OptionDef>> table = {
      {"help", {}},
      {"init", {}},
      {"demo", {{"seed", true}, {"size", true}, {"time", true}}},
      {"import", {{"batch", true}}},
      {"save-progress", {}},
      {"save-event", {}},
      {"ops",
       {{"eid", true}, {"name", true}, {"id", true}, {"parent", true}, {"first-only", false},
        {"active", false}, {"limit", true}, {"from", true}, {"to", true}, {"json", false},
        {"no-envs", false}}},
      {"events",
       {{"eid", true}, {"operand", false}, {"limit", true}, {"category", true}, {"type", true},
        {"with-data", false}, {"from", true}, {"to", true}, {"json", false}, {"envs", false}}},
      {"unfinished", {{"eid", true}, {"since", true}, {"json", false}}},
      {"finish", {}},
      {"compact", {{"age", true}, {"keep", true}}},
      {"watch", {{"interval", true}, {"count", true}}},
      {"serve", {{"listen", true}, {"token-file", true}}},
  };
  return table;
}

const OptionDef* find(const std::vector<OptionDef>& defs, const std::string& name) {
  for (const auto& s : defs)
    if (name == s.name) return &s;
  return nullptr;
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

}  // namespace

const std::vector<OptionDef>* commandOptions(const std::string& command) {
  auto it = commandTable().find(command);
  return it == commandTable().end() ? nullptr : &it->second;
}

CommandLine CommandLine::parse(int argc, char** argv) {
  CommandLine cl;
  std::map<std::string, std::string> global;
  // Options may precede the command, so they are first collected and sorted out afterwards.
  std::vector<std::pair<std::string, std::string>> pending;  // name, value
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-' &&
                    (arg[1] == '-' || arg == "-h");
    if (!isOption) {
      if (cl.command_.empty())
        cl.command_ = arg;
      else
        cl.positional_.push_back(arg);
      continue;
    }
    if (arg == "-h") arg = "--help";
    std::string name = arg.substr(2);
    std::string value;
    bool inlineValue = false;
    auto eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      inlineValue = true;
    }
    const OptionDef* def = find(kGlobal, name);
    if (!def && !cl.command_.empty()) {
      const auto* defs = commandOptions(cl.command_);
      if (defs) def = find(*defs, name);
    }
    if (!def) {
      // Before the command, a command option is accepted once the command is known.
      bool known = false;
      for (const auto& entry : commandTable())
        if (find(entry.second, name)) known = true;
      if (!known) throw UsageError("unknown option --" + name);
      if (!cl.command_.empty())
        throw UsageError("option --" + name + " does not belong to command '" + cl.command_ + "'");
      // Decided once the command is known; it takes a value if any command's option does.
      bool anyTakes = false;
      for (const auto& entry : commandTable()) {
        const OptionDef* d = find(entry.second, name);
        if (d && d->takesValue) anyTakes = true;
      }
      if (anyTakes && !inlineValue) {
        if (i + 1 >= argc) throw UsageError("option --" + name + " needs a value");
        value = argv[++i];
      }
      pending.emplace_back(name, value);
      continue;
    }
    if (def->takesValue && !inlineValue) {
      if (i + 1 >= argc) throw UsageError("option --" + name + " needs a value");
      value = argv[++i];
    } else if (!def->takesValue && inlineValue) {
      throw UsageError("option --" + name + " takes no value");
    }
    if (find(kGlobal, name))
      global[name] = value;
    else
      cl.values_[name] = value;
  }
  if (!pending.empty()) {
    const auto* defs = commandOptions(cl.command_);
    for (const auto& p : pending) {
      if (!defs || !find(*defs, p.first))
        throw UsageError("option --" + p.first + " does not belong to command '" +
                         cl.command_ + "'");
      cl.values_[p.first] = p.second;
    }
  }

  cl.global_.help = global.count("help") != 0;
  cl.global_.db = global.count("db") ? global["db"] : envOr("JRXLOG_DB", kDefaultDatabase);
  cl.global_.localEid =
      global.count("local-eid") ? global["local-eid"] : envOr("JRXLOG_LOCAL_EID", "");
  cl.global_.aclFile = global.count("acl") ? global["acl"] : "";
  cl.global_.client = global.count("client") ? global["client"] : "";
  if (global.count("acl") && !global.count("client"))
    throw UsageError("--acl needs --client NAME");
  if (global.count("client") && !global.count("acl"))
    throw UsageError("--client needs --acl FILE");
  if (cl.global_.db.empty()) throw UsageError("--db needs a database URL");
  if (!cl.command_.empty() && !commandOptions(cl.command_))
    throw UsageError("unknown command '" + cl.command_ + "'");
  return cl;
}

std::string CommandLine::value(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

void CommandLine::validate() const {
  static const std::map<std::string, std::pair<size_t, size_t>> arguments = {
      {"import", {0, 1}}, {"save-progress", {1, 1}}, {"save-event", {1, 1}}, {"compact", {1, 1}}};
  auto a = arguments.find(command_);
  size_t min = a == arguments.end() ? 0 : a->second.first;
  size_t max = a == arguments.end() ? 0 : a->second.second;
  if (positional_.size() < min) throw UsageError(command_ + " needs an argument (see --help)");
  if (positional_.size() > max)
    throw UsageError("unexpected argument '" + positional_[max] + "' for " + command_);
  for (const auto& v : values_) {
    const std::string& n = v.first;
    if (n == "limit") parseInteger(n, v.second, 0, 4294967295LL);
    if (n == "seed") parseInteger(n, v.second, 0, 9007199254740991LL);
    if (n == "size") parseInteger(n, v.second, 1, 100000);
    if (n == "batch") parseInteger(n, v.second, 1, 1000000);
    if (n == "count") parseInteger(n, v.second, 1, 1000000000);
    if (n == "keep") parseInteger(n, v.second, 0, 2147483647LL);
    if (n == "from" || n == "to" || n == "since" || n == "time") parseTime(n, v.second);
    if (n == "age") parseDuration(n, v.second);
    if (n == "interval") parseInterval(n, v.second);
    if (n == "eid") {
      JRX::JRXEID eid;
      if (eid.fromString(v.second.c_str()) != 0)
        throw UsageError("--eid: not a GUID (8-4-4-4-12 hex digits): '" + v.second + "'");
    }
  }
  if (command_ == "compact") {
    const std::string& what = positional_[0];
    if (what == "ops") {
      if (has("keep")) throw UsageError("compact ops takes --age, not --keep");
      if (!has("age")) throw UsageError("compact ops needs --age SECONDS");
    } else if (what == "events") {
      if (has("age")) throw UsageError("compact events takes --keep, not --age");
      if (!has("keep")) throw UsageError("compact events needs --keep N");
    } else {
      throw UsageError("compact what? 'ops' or 'events', not '" + what + "'");
    }
  }
  if (command_ == "unfinished" && !has("eid")) throw UsageError("unfinished needs --eid GUID");
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

int64_t parseTime(const std::string& option, const std::string& text) {
  if (text == "now") return static_cast<int64_t>(std::time(nullptr));
  int64_t v = 0;
  if (parseDate(text, v)) return v;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    char unit = text.back();
    if (unit == 's' || unit == 'm' || unit == 'h' || unit == 'd') {
      long long secs = 0;
      if (parseSeconds(text, secs)) return static_cast<int64_t>(std::time(nullptr)) + secs;
    }
  }
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && errno != ERANGE) return n;
  throw UsageError("--" + option + ": expected seconds since 1970, 'now', a date " +
                   "'YYYY-MM-DD HH:MM:SS' or an offset like '-2h', got '" + text + "'");
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

}  // namespace jrxlog
