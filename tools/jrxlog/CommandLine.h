// The command line of jrxlog as CLI11 objects: the global options (database, identity,
// rights) bound to GlobalOptions, and each command a subcommand whose options are bound to a
// struct of its own and checked by the validators below while parsing, so that a mistake is
// reported before anything is opened. The help, the bash completion and the manual page are
// all read from these objects, so that they say what the parser accepts.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>

#include "JRXGUID.h"
#include "Options.h"

namespace jrxlog {

class CommandLine {
 public:
  CommandLine();  // the global options and every command of Commands.h
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // Throws UsageError, or TextRequested for --help and --version.
  void parse(int argc, char** argv);

  CLI::App app;
  GlobalOptions global;
  // What the chosen command's callback left to run after the parse.
  std::function<int()> run;
  bool opensLog = true;  // false for the commands that only print about the tool itself
};

// A command (of `parent`, else of the tool) that runs `run` with `options`, whose fields the
// caller binds to the command's options. The deepest command named runs: `compact ops`.
template <class Options>
CLI::App* addCommand(CommandLine& cl, const std::string& name, const std::string& help,
                     const std::shared_ptr<Options>& options, int (*run)(const Options&),
                     const std::string& footer = "", CLI::App* parent = nullptr) {
  CLI::App* sub = (parent ? parent : &cl.app)->add_subcommand(name, help);
  sub->group("Commands");
  sub->footer(footer);  // not the tool's own, which CLI11 would hand down
  sub->callback([&cl, options, run] {
    if (!cl.run) cl.run = [options, run] { return run(*options); };
  });
  return sub;
}

// The checks of option values. A validator's description is the range the help, the manual
// page and the tests show. Those for times and durations turn the text into seconds, so they
// go in with ->transform(), the others with ->check().
CLI::Validator wholeNumber(long long min, long long max);
CLI::Validator timeValue();        // parseTime
CLI::Validator durationValue();    // parseDuration
CLI::Validator intervalValue();    // parseInterval
CLI::Validator guidValue();        // an environment identifier
CLI::Validator listenValue();      // parseListen
CLI::Validator tokenFileValue();   // a file that readToken accepts

// An option bound to a whole number from `min` to `max`.
template <class T>
CLI::Option* addNumber(CLI::App& to, const std::string& name, T& value, long long min,
                       long long max, const std::string& help) {
  return to.add_option(name, value, help)->type_name("N")->check(wholeNumber(min, max));
}
// An option bound to an environment identifier (invalid unless given).
CLI::Option* addGuidOption(CLI::App& to, const std::string& name, JRX::JRXEID& eid,
                           const std::string& help);

// An option's value as the help shows it ("N"), its range ("1 to 1000000") and default.
std::string valueName(const CLI::Option& o);
std::string rangeOf(const CLI::Option& o);
std::string defaultOf(const CLI::Option& o);
// The option's help with its range and default: "rows per call (1 to 1000000, default 500)".
std::string optionHelp(const CLI::Option& o);
// Every command, subcommands after their parent, with its words ("compact ops").
std::vector<std::pair<std::string, const CLI::App*>> allCommands(const CLI::App& app);

// Made from the parser's objects (Help.cpp, Completion.cpp, ManPage.cpp).
std::string helpText(const CLI::App& app, const std::string& command);
std::string bashCompletion(const CLI::App& app);
std::string manPage(const CLI::App& app);

// Help texts several commands show (Help.cpp).
extern const char* const kToolDescription;
extern const char* const kToolFooter;
extern const char* const kTimeHelp;
extern const char* const kImportFooter;

}  // namespace jrxlog
