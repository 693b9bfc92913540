// The help texts, and the commands that print what the tool knows of itself.
#include <iostream>

#include "Commands.h"

namespace jrxlog {

const char* const kToolDescription =
    "jrxlog - the operation log and the event log of the agent, from the command line";

const char* const kToolFooter = R"(Database URLs (--db, JRXLOG_DB):
  sqlite:PATH, sqlite::memory:
  mysql://[USER[:PASSWORD]@][HOST[:PORT]]/DB[?PARAM=VALUE&...]
    socket=PATH           the server's unix socket (for HOST localhost)
    defaults-file=FILE    read this option file instead of the usual ones
    ssl-mode=MODE         DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY
    ssl-ca=FILE, ssl-cert=FILE, ssl-key=FILE
                          CA certificates to trust; the client's certificate and key
    connect-timeout=S     seconds to wait for the server (default 10)
  What the URL leaves out comes from the MySQL option files, groups [client] and [jrxlog]
  (/etc/my.cnf, /etc/mysql/my.cnf, ~/.my.cnf, or only the defaults-file): user, password,
  host, port, socket, ssl-ca ...; options read there win over the URL's parameters, the
  URL's user, password, host, port and socket win over them. The password may also come
  from MYSQL_PWD, so that it needs to stand neither in the URL nor in the process list.
  A database that does not exist yet is created; so are missing tables.

Listings print a table; --json prints JSON Lines in the import format, the records in the
order of the answer, so that the output can be imported into another database as it is.

The tool prints what it did and what failed; the log library's own records go nowhere unless
--log-file or --verbose asks for them (levels up to JRXLOG_LOGLEVEL, default 2).

Exit status: 0 done; 1 refused ("error CODE: MESSAGE" on stderr) or bad input (with its
line number); 2 a mistake on the command line.
'jrxlog COMMAND --help' shows the options of a command.)";

const char* const kTimeHelp =
    "Times T: seconds since 1970, 'now', 'YYYY-MM-DD[ HH:MM[:SS]]' in local time ('Z' at the "
    "end for UTC), or an offset from now such as '-2h' or '-30m'.";

const char* const kImportFooter = R"(Records, one JSON object a line, told apart by "kind":
  {"kind":"env", "eid":GUID, "type":"node", "title":"host-1"}
  {"kind":"progress", "id":"req-1", "parentId":"", "name":"vm.start", "status":0,
   "progress":40, "time":1701000000, "operands":[GUID], "sessionId":"s-1", "eid":GUID,
   "info":INFO}
  {"kind":"event", "guid":GUID, "time":1701000000, "category":"vm", "type":"env_status",
   "code":0, "sid":"0102ff", "info":INFO, "audit":{"session":"s-1",
   "address":"2001:db8::1", "detail":"login", "kind":0}}
INFO = {"text": string, "params": {NAME: VALUE, ...}}; VALUE = string | INFO | [VALUE, ...].
  {"kind":"cursor", "cursor":TEXT}   where a listing stopped: skipped
Only "id" of a progress record is required; a record is stored whole or not at all.
In a text, U+FDD0 and two hex digits stand for that byte, U+FDD0 twice for U+FDD0.)";

namespace {

struct HelpOptions {
  const CLI::App* app = nullptr;
  bool all = false, man = false;
  std::vector<std::string> command;
};

int runHelp(const HelpOptions& o) {
  if (o.man) {
    std::cout << manPage(*o.app);
  } else if (o.all) {
    for (const auto& c : allCommands(*o.app))
      std::cout << "jrxlog " << c.first << "\n" << helpText(*o.app, c.first) << "\n";
  } else {
    std::string which;
    for (const std::string& w : o.command) which += (which.empty() ? "" : " ") + w;
    std::cout << helpText(*o.app, which);
  }
  return 0;
}

struct CompletionOptions {
  const CLI::App* app = nullptr;
  std::string shell = "bash";
};

int runCompletion(const CompletionOptions& o) {
  std::cout << bashCompletion(*o.app);
  return 0;
}

}  // namespace

std::string helpText(const CLI::App& app, const std::string& command) {
  const CLI::App* at = &app;
  for (const auto& c : allCommands(app))
    if (c.first == command) at = c.second;
  if (at == &app && !command.empty()) throw UsageError("no command '" + command + "'");
  const size_t space = command.rfind(' ');
  return at->help(at == &app || space == std::string::npos ? "" : "jrxlog " + command.substr(0, space));
}

void addHelpCommands(CommandLine& cl) {
  auto help = std::make_shared<HelpOptions>();
  help->app = &cl.app;
  CLI::App* h = addCommand(cl, "help", "show the help of jrxlog or of a command", help, runHelp);
  h->add_flag("--all", help->all, "the help of every command, one after the other");
  h->add_flag("--man", help->man, "the manual page of jrxlog (roff)");
  h->add_option("COMMAND", help->command, "a command, e.g. 'ops' or 'compact ops'");

  auto completion = std::make_shared<CompletionOptions>();
  completion->app = &cl.app;
  CLI::App* c = addCommand(cl, "completion", "print the bash completion script of jrxlog",
                           completion, runCompletion,
                           "Install it as /usr/share/bash-completion/completions/jrxlog, or "
                           "source it:\n  source <(jrxlog completion bash)");
  c->add_option("SHELL", completion->shell, "the shell")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& s) -> std::string {
            return s == "bash" ? "" : "completion is made for bash only, not '" + s + "'";
          },
          "bash"));
  // They print what the tool knows of itself, without a database.
  for (CLI::App* sub : {h, c}) sub->parse_complete_callback([&cl] { cl.opensLog = false; });
}

}  // namespace jrxlog
