// The options each command declares (read from the tool's own parser objects) are what the
// built tool's --help, bash completion and manual page name, with the declared ranges and
// defaults, and the range the help shows is the one the parser enforces.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <set>

#include "CommandLine.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using Names = std::set<std::string>;
using jrxlog::CommandLine;

// The commands with their words, the tool itself first (no words).
std::vector<std::pair<std::string, const CLI::App*>> commandsOf(const CommandLine& cl) {
  auto all = jrxlog::allCommands(cl.app);
  all.insert(all.begin(), {"", &cl.app});
  return all;
}

Strings wordsOf(const std::string& command) {
  Strings words;
  std::istringstream in(command);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The long options a command takes: its own, and for a command the global ones too.
Names accepted(const CommandLine& cl, const CLI::App& command, bool withHelp = true) {
  Names names;
  for (const CLI::App* app : {&command, static_cast<const CLI::App*>(&cl.app)})
    for (const CLI::Option* o : app->get_options())
      if (withHelp || o != app->get_help_ptr())
        for (const std::string& l : o->get_lnames()) names.insert("--" + l);
  return names;
}

Names longOptionsIn(const std::string& text) {
  Names names;
  const std::regex option("--[a-z][a-z-]*");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
    names.insert(it->str());
  return names;
}

// Each option's entry in its command's --help and in the manual page shows the range and the
// default of its declaration. Per command, the manual page's entries (a command's --help told
// once, among the global options) and the words `completion bash` offers are the long options
// the parser takes; the options the completion skips a value after are those that take one.
TEST(ToolCommandLine, HelpManualAndCompletionNameEachOptionAsDeclared) {
  CommandLine cl;
  const ToolRun page = runJrxlog({"help", "--man"}), script = runJrxlog({"completion", "bash"});
  ASSERT_EQ(page.status + script.status, 0) << page.err << script.err;
  Names valued;
  const auto roff = [](std::string text) {
    return std::regex_replace(text, std::regex("-"), "\\-");
  };
  size_t ranges = 0, defaults = 0;
  for (const auto& c : commandsOf(cl)) {
    Strings args = wordsOf(c.first);
    args.push_back("--help");
    const ToolRun help = runJrxlog(args);
    ASSERT_EQ(help.status, 0) << c.first << help.err;
    const std::string heading =
        c.first.empty() ? ".SH OPTIONS\n" : ".SS \"jrxlog " + roff(c.first) + "\"\n";
    const size_t at = page.out.find(heading);
    ASSERT_NE(at, std::string::npos) << heading;
    const std::string section =
        page.out.substr(at, page.out.find("\n.S", at + heading.size()) - at);
    // The option's name stands on the line after each .TP.
    std::string entries;
    for (size_t tp = section.find(".TP\n"); tp != std::string::npos; tp = section.find(".TP\n", tp + 1))
      entries += section.substr(tp + 4, section.find('\n', tp + 4) - tp - 4) + "\n";
    Names expected = accepted(cl, *c.second, c.first.empty());
    if (!c.first.empty())
      for (const std::string& global : accepted(cl, cl.app)) expected.erase(global);
    EXPECT_EQ(longOptionsIn(std::regex_replace(entries, std::regex(R"(\\-)"), "-")), expected)
        << section;
    const std::string start = "'" + c.first + "') words='";
    const size_t listed = script.out.find(start), from = listed + start.size();
    ASSERT_NE(listed, std::string::npos) << c.first;
    const std::string words = script.out.substr(from, script.out.find('\'', from) - from);
    EXPECT_EQ(longOptionsIn(words), accepted(cl, *c.second)) << c.first << ": " << words;
    for (const CLI::Option* o : c.second->get_options()) {
      const std::string range = jrxlog::rangeOf(*o), given = jrxlog::defaultOf(*o);
      // The option's entry in the help: from its names to the next option or section.
      const size_t at = help.out.find("\n  " + o->get_name(o->get_positional(), true) + " ");
      ASSERT_NE(at, std::string::npos) << c.first << " " << o->get_name() << "\n" << help.out;
      const size_t end = std::min(help.out.find("\n  -", at + 1), help.out.find("\n\n", at + 1));
      const std::string entry = help.out.substr(at, end - at);
      EXPECT_NE(entry.find(o->get_description()), std::string::npos) << entry;
      for (const std::string& shown : {range, given.empty() ? given : "default " + given}) {
        EXPECT_NE(entry.find(shown), std::string::npos) << entry;
        EXPECT_NE(section.find(roff(shown)), std::string::npos) << shown;
      }
      ranges += !range.empty();
      defaults += !given.empty();
      if (o->nonpositional() && o->get_type_size() != 0) valued.insert(o->get_name());
    }
  }
  const size_t skip = script.out.find(") ((i++)) ;;");
  ASSERT_NE(skip, std::string::npos);
  const size_t line = script.out.rfind('\n', skip) + 1;
  EXPECT_EQ(longOptionsIn(script.out.substr(line, skip - line)), valued);
  // The declarations in force: a sample, so that the loop above cannot pass on nothing.
  EXPECT_GE(ranges, 12u);
  EXPECT_GE(defaults, 10u);
  const ToolRun import = runJrxlog({"import", "--help"});
  EXPECT_NE(import.out.find("--batch N"), std::string::npos) << import.out;
  EXPECT_NE(import.out.find("(1 to 1000000, default 500)"), std::string::npos) << import.out;
}

// Parses `args` as the tool would; the usage error's text, or "" when it parsed.
std::string usageErrorOf(Strings args) {
  std::vector<char*> argv;
  args.insert(args.begin(), "jrxlog");
  for (std::string& a : args) argv.push_back(&a[0]);
  CommandLine cl;
  try {
    cl.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const jrxlog::UsageError& e) {
    return e.what();
  }
  return "";
}

// Each whole-number range the help shows is the one the parser holds the option to.
TEST(ToolCommandLine, TheRangeShownIsTheRangeEnforced) {
  CommandLine cl;
  const std::regex wholeNumbers(R"((-?\d+) to (-?\d+)( seconds)?)");
  size_t checked = 0;
  for (const auto& c : commandsOf(cl)) {
    for (const CLI::Option* o : c.second->get_options()) {
      std::smatch m;
      const std::string range = jrxlog::rangeOf(*o);
      if (o->get_positional() || !std::regex_match(range, m, wholeNumbers)) continue;
      const long long min = std::stoll(m[1]), max = std::stoll(m[2]);
      const std::string name = o->get_name();
      const auto error = [&](long long value) {
        Strings args = wordsOf(c.first);
        args.insert(args.end(), {name, std::to_string(value)});
        return usageErrorOf(args);
      };
      for (long long outside : {min - 1, max + 1})
        EXPECT_EQ(error(outside).rfind(name + ": ", 0), 0u) << c.first << " " << name << " " << outside;
      for (long long inside : {min, max})
        EXPECT_NE(error(inside).rfind(name + ": ", 0), 0u) << c.first << " " << name << " " << inside;
      ++checked;
    }
  }
  EXPECT_GE(checked, 10u);
}

// Times, durations and their units as the help describes them; anything else is refused.
TEST(ToolCommandLine, TimesAndDurationsMeanWhatTheHelpSays) {
  using jrxlog::parseTime;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_NEAR(parseTime("from", "-2h"), now - 7200, 60);
  EXPECT_NEAR(parseTime("from", "+1d"), now + 86400, 60);
  EXPECT_NEAR(parseTime("from", "now"), now, 60);
  for (const char* day : {"2023-11-26 22:40:00Z", "2023-11-26T22:40Z", "1701038400"})
    EXPECT_EQ(parseTime("from", day), 1701038400) << day;
  EXPECT_EQ(parseTime("from", "2023-11-26Z"), 1700956800);
  EXPECT_EQ(parseTime("from", "-5"), -5);
  for (const char* wrong : {"2023-13-01", "2023-11-26 24:00", "2023-11-26 22:40x", "2h", "-2w", ""})
    EXPECT_THROW(parseTime("from", wrong), jrxlog::UsageError) << wrong;
  EXPECT_EQ(jrxlog::parseDuration("age", "90"), 90);
  EXPECT_EQ(jrxlog::parseDuration("age", "3m"), 180);
  EXPECT_EQ(jrxlog::parseDuration("age", "2d"), 172800);
  for (const char* wrong : {"-1", "1w", "s", "99999999999d"})
    EXPECT_THROW(jrxlog::parseDuration("age", wrong), jrxlog::UsageError) << wrong;
}

}  // namespace
}  // namespace jrxtest
