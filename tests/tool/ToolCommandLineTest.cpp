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

// The long options of `app` itself.
Names own(const CLI::App& app, bool withHelp = true) {
  Names names;
  for (const CLI::Option* o : app.get_options())
    if (withHelp || o != app.get_help_ptr())
      for (const std::string& l : o->get_lnames()) names.insert("--" + l);
  return names;
}

Names longOptionsIn(const std::string& text) {
  Names names;
  const std::regex option("--[a-z][a-z-]*");
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
    names.insert(it->str());
  return names;
}

// Per command, the manual page's entries (a command's --help told once, among the global
// options) and the words `completion bash` offers (with the global options) are the long
// options the parser takes, the manual page with the range and the default of each; --help
// shows them too.
TEST(ToolCommandLine, HelpManualAndCompletionNameEachOptionAsDeclared) {
  CommandLine cl;
  const ToolRun page = runJrxlog({"help", "--man"}), script = runJrxlog({"completion", "bash"});
  ASSERT_EQ(page.status + script.status, 0) << page.err << script.err;
  const auto roff = [](const std::string& text) {
    return std::regex_replace(text, std::regex("-"), "\\-");
  };
  size_t ranges = 0, defaults = 0;
  auto commands = jrxlog::allCommands(cl.app);  // with their words, the tool itself first
  commands.insert(commands.begin(), {"", &cl.app});
  for (const auto& [words, command] : commands) {
    const std::string heading =
        words.empty() ? ".SH OPTIONS\n" : ".SS \"jrxlog " + roff(words) + "\"\n";
    const size_t at = page.out.find(heading), listed = script.out.find("'" + words + "') words='");
    ASSERT_TRUE(at != std::string::npos && listed != std::string::npos) << heading;
    const std::string section =
        page.out.substr(at, page.out.find("\n.S", at + heading.size()) - at);
    // The option's name stands on the line after each .TP.
    std::string entries;
    for (size_t tp = section.find(".TP\n"); tp != std::string::npos; tp = section.find(".TP\n", tp + 1))
      entries += section.substr(tp + 4, section.find('\n', tp + 4) - tp - 4) + "\n";
    EXPECT_EQ(longOptionsIn(std::regex_replace(entries, std::regex(R"(\\-)"), "-")),
              own(*command, words.empty())) << section;
    const size_t from = script.out.find('=', listed) + 2;
    Names offered = own(cl.app);
    offered.merge(own(*command));
    EXPECT_EQ(longOptionsIn(script.out.substr(from, script.out.find('\'', from) - from)), offered)
        << words;
    for (const CLI::Option* o : command->get_options()) {
      const std::string range = jrxlog::rangeOf(*o), given = jrxlog::defaultOf(*o);
      for (const std::string& shown : {range, given.empty() ? given : "default " + given})
        EXPECT_NE(section.find(roff(shown)), std::string::npos) << shown;
      ranges += !range.empty();
      defaults += !given.empty();
    }
  }
  // The declarations in force: a sample, so that the loop above cannot pass on nothing.
  EXPECT_GE(ranges, 12u);
  EXPECT_GE(defaults, 10u);
  EXPECT_NE(runJrxlog({"import", "--help"}).out.find("  --batch N                 progress "
                                                     "records saved per call (1 to 1000000, default 500)\n"),
            std::string::npos);
}

// A whole number's range is enforced as the help shows it, at both ends.
TEST(ToolCommandLine, TheRangeShownIsTheRangeEnforced) {
  CLI::Validator range = jrxlog::wholeNumber(-5, 1000000);
  EXPECT_EQ(range.get_description(), "-5 to 1000000");
  for (std::string inside : {"-5", "1000000", "0"}) EXPECT_EQ(range(inside), "") << inside;
  for (std::string outside : {"-6", "1000001", "1e3", "", "99999999999999999999"})
    EXPECT_NE(range(outside), "") << outside;
}

// Times, durations and their units as the help describes them; anything else is refused.
TEST(ToolCommandLine, TimesAndDurationsMeanWhatTheHelpSays) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  for (const auto& [text, at] : {std::pair("-2h", now - 7200), {"+1d", now + 86400}, {"now", now}})
    EXPECT_NEAR(jrxlog::parseTime("from", text), at, 60) << text;
  for (const auto& [text, at] :
       {std::pair("2023-11-26 22:40:00Z", 1701038400), {"2023-11-26T22:40Z", 1701038400},
        {"1701038400", 1701038400}, {"2023-11-26Z", 1700956800}, {"-5", -5}})
    EXPECT_EQ(jrxlog::parseTime("from", text), at) << text;
  for (const char* wrong : {"2023-13-01", "2023-11-26 24:00", "2023-11-26 22:40x", "2h", "-2w", ""})
    EXPECT_THROW(jrxlog::parseTime("from", wrong), jrxlog::UsageError) << wrong;
  for (const auto& [text, seconds] : {std::pair("90", 90), {"3m", 180}, {"2d", 172800}})
    EXPECT_EQ(jrxlog::parseDuration("age", text), seconds) << text;
  for (const char* wrong : {"-1", "1w", "s", "99999999999d"})
    EXPECT_THROW(jrxlog::parseDuration("age", wrong), jrxlog::UsageError) << wrong;
}

}  // namespace
}  // namespace jrxtest
