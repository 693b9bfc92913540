#include "CommandLine.h"

#include <cstdlib>

#include "Commands.h"

namespace jrxlog {

namespace {

// The help shows an option's value name alone after the option, and its range and default
// after its help, where a reader looks for what the value means.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* o) const override {
    std::string s;
    if (o->get_type_size() != 0 && o->nonpositional()) s += " " + valueName(*o);
    if (o->get_required()) s += " (required)";
    if (!o->get_envname().empty()) s += " (or " + o->get_envname() + ")";
    return s;
  }
  std::string make_option_desc(const CLI::Option* o) const override { return optionHelp(*o); }
};

// A validator running one of the tool's parsers, whose message CLI11 prefixes with the
// option's name. `convert` may replace the text by what it means.
CLI::Validator parsing(const std::string& range, std::function<void(std::string&)> convert) {
  return CLI::Validator(
      [convert](std::string& text) -> std::string {
        try {
          convert(text);
        } catch (const UsageError& e) {
          const std::string m = e.what();
          const size_t colon = m.find(": ");
          return m.rfind("--", 0) == 0 && colon != std::string::npos ? m.substr(colon + 2) : m;
        }
        return "";
      },
      range);
}

}  // namespace

CLI::Validator wholeNumber(long long min, long long max) {
  return parsing(std::to_string(min) + " to " + std::to_string(max),
                 [min, max](std::string& t) { parseInteger("", t, min, max); });
}

CLI::Validator timeValue() {
  return parsing("", [](std::string& t) { t = std::to_string(parseTime("", t)); });
}

CLI::Validator durationValue() {
  return parsing("0 to 2147483647 seconds",
                 [](std::string& t) { t = std::to_string(parseDuration("", t)); });
}

CLI::Validator intervalValue() {
  return parsing("more than 0, at most 86400", [](std::string& t) { parseInterval("", t); });
}

CLI::Validator guidValue() {
  return parsing("", [](std::string& t) {
    JRX::JRXEID eid;
    if (eid.fromString(t.c_str()) != 0)
      throw UsageError("not a GUID (8-4-4-4-12 hex digits): '" + t + "'");
  });
}

CLI::Validator listenValue() {
  return parsing("port 0 to 65535, 0 any free", [](std::string& t) { parseListen(t); });
}

CLI::Validator tokenFileValue() {
  return parsing("", [](std::string& t) { readToken(t); });
}

CLI::Option* addGuidOption(CLI::App& to, const std::string& name, JRX::JRXEID& eid,
                           const std::string& help) {
  return to
      .add_option_function<std::string>(
          name, [&eid](const std::string& text) { eid.fromString(text.c_str()); }, help)
      ->type_name("GUID")
      ->check(guidValue());
}

std::string rangeOf(const CLI::Option& o) {
  auto& option = const_cast<CLI::Option&>(o);  // CLI11 looks validators up without const
  try {
    return option.get_validator(0)->get_description();
  } catch (const CLI::OptionNotFound&) {
    return "";  // none
  }
}

// CLI11 appends the validator's description to the value name: "N:1 to 1000000".
std::string valueName(const CLI::Option& o) {
  const std::string full = o.get_type_name(), range = rangeOf(o);
  return range.empty() ? full : full.substr(0, full.size() - range.size() - 1);
}

std::string defaultOf(const CLI::Option& o) {
  return o.get_type_size() == 0 ? "" : o.get_default_str();
}

std::string optionHelp(const CLI::Option& o) {
  std::string range = rangeOf(o), given = defaultOf(o);
  if (!given.empty()) given = "default " + given;
  const std::string both = range + (range.empty() || given.empty() ? "" : ", ") + given;
  return o.get_description() + (both.empty() ? "" : " (" + both + ")");
}

std::vector<std::pair<std::string, const CLI::App*>> allCommands(const CLI::App& app) {
  std::vector<std::pair<std::string, const CLI::App*>> all;
  for (const CLI::App* c : app.get_subcommands([](const CLI::App*) { return true; })) {
    all.emplace_back(c->get_name(), c);
    for (const auto& sub : allCommands(*c)) all.emplace_back(c->get_name() + " " + sub.first, sub.second);
  }
  return all;
}

CommandLine::CommandLine() : app(kToolDescription, "jrxlog") {
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->column_width(28);
  app.get_formatter()->label("Subcommands", "Commands");
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.set_help_flag("-h,--help", "show this help and exit");
  app.set_version_flag("--version", std::string("jrxlog ") + JRXLOG_VERSION,
                       "show the version and exit");
  app.fallthrough();  // global options may follow the command
  app.require_subcommand(0, 1);
  app.footer(kToolFooter);
  global.db = kDefaultDatabase;
  app.add_option("--db", global.db, "the log's database (forms below)")
      ->type_name("URL")->envname("JRXLOG_DB")->capture_default_str();
  app.add_option("--local-eid", global.localEid,
                 "the local environment (default: the one made when the database was created)")
      ->type_name("GUID")->envname("JRXLOG_LOCAL_EID")->check(guidValue());
  CLI::Option* acl = app.add_option(
      "--acl", global.aclFile,
      "apply the rights of --client NAME from this ACL file "
      "{\"clients\": {\"NAME\": {\"GUID or *\": [right, ...]}}}")->type_name("FILE");
  CLI::Option* client =
      app.add_option("--client", global.client, "the client whose rights --acl applies")
          ->type_name("NAME");
  acl->needs(client);
  client->needs(acl);
  app.add_option("--log-file", global.logFile,
                 "append the log library's own records (failures, notable events) to FILE")
      ->type_name("FILE")->envname("JRXLOG_LOG_FILE");
  app.add_flag("--verbose", global.verbose, "print the log library's own records on standard error");
  for (auto add : kCommands) add(*this);
}

void CommandLine::parse(int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    throw TextRequested(app.help());
  } catch (const CLI::CallForVersion& e) {
    throw TextRequested(std::string(e.what()) + "\n");
  } catch (const CLI::ParseError& e) {
    std::string name;
    for (const CLI::App* at = &app; !at->get_subcommands().empty();) {
      at = at->get_subcommands().front();
      name += " " + at->get_name();
    }
    throw UsageError(e.what(), "jrxlog" + name + " --help");
  }
  if (!run) throw UsageError("a command is required");
  // An empty URL (a variable that was meant to hold one and does not) must not quietly
  // become the default database in whatever folder the tool runs in.
  const char* variable = std::getenv("JRXLOG_DB");
  if (global.db.empty()) throw UsageError("--db: the database URL is empty");
  if (app.get_option("--db")->count() == 0 && variable && !*variable)
    throw UsageError("JRXLOG_DB is set but empty: name a database URL, or unset it for the "
                     "default " + std::string(kDefaultDatabase));
}

}  // namespace jrxlog
