#include "CommandTable.h"

namespace jrxlog {

namespace {

const long long kMaxUnsigned = 4294967295LL;

OptionSpec flag(const char* name, const char* help) { return {name, ValueKind::Flag, "", help}; }
OptionSpec text(const char* name, const char* valueName, const char* help) {
  return {name, ValueKind::Text, valueName, help};
}
OptionSpec integer(const char* name, long long min, long long max, const char* help) {
  return {name, ValueKind::Integer, "N", help, min, max};
}
OptionSpec time(const char* name, const char* help) {
  return {name, ValueKind::Time, "T", help};
}
OptionSpec eid(const char* help) { return {"eid", ValueKind::Guid, "GUID", help}; }
OptionSpec json(const char* help) { return flag("json", help); }
// The options that continue a listing where an earlier one stopped.
std::vector<OptionSpec> withCursorOptions(std::vector<OptionSpec> specs) {
  specs.push_back(flag("show-cursor",
                       "after the listing, print its cursor as the last line (\"-- cursor: "
                       "TEXT\", or a {\"kind\":\"cursor\"} record with --json)"));
  specs.push_back(text("after", "TEXT",
                       "continue the same listing (same filters) after the record the cursor "
                       "TEXT names"));
  specs.push_back({"cursor-file", ValueKind::File, "FILE",
                   "continue after the cursor kept in FILE when it exists; keep the new cursor "
                   "there at the end"});
  specs.push_back(flag("follow",
                       "after the listing, print records as they are stored, until Ctrl-C or "
                       "SIGTERM (then keep the cursor); a follower's cursor goes on following"));
  specs.back().shortName = 'f';
  return specs;
}

const OptionSpec kBatch = integer("batch", 1, 100000000, "rows removed per transaction (default 5000)");
const OptionSpec kNoSweep =
    flag("no-sweep", "only the compaction's own rows; leave the sweep of rows whose operation, "
                     "event or links are gone for later");
const OptionSpec kVacuum =
    flag("vacuum", "afterwards give the database's free pages back to the file system (SQLite)");
const char* const kCompactFooter =
    "Each batch is a transaction of its own, so writers wait behind one batch at most. The "
    "sweep removes rows whose operation or event is gone (of this or earlier compactions) "
    "and environment rows nothing links to. Prints the rows removed per table.";

}  // namespace

const std::vector<OptionSpec>& globalOptionSpecs() {
  static const std::vector<OptionSpec> specs = {
      {"db", ValueKind::Text, "URL",
       "the log's database (default sqlite:jrxlog.db; forms below)", 0, 0, false, "JRXLOG_DB"},
      {"local-eid", ValueKind::Guid, "GUID",
       "the local environment (default: the one made when the database was created)", 0, 0,
       false, "JRXLOG_LOCAL_EID"},
      {"acl", ValueKind::File, "FILE",
       "apply the rights of --client NAME from this ACL file "
       "{\"clients\": {\"NAME\": {\"GUID or *\": [right, ...]}}}"},
      {"client", ValueKind::Text, "NAME", "the client whose rights --acl applies"},
      {"log-file", ValueKind::Text, "FILE",
       "append the log library's own records (failures, notable events) to FILE", 0, 0, false,
       "JRXLOG_LOG_FILE"},
      {"verbose", ValueKind::Flag, "", "print the log library's own records on standard error"},
  };
  return specs;
}

const std::vector<CommandSpec>& commandSpecs() {
  static const std::vector<CommandSpec> specs = {
      {"init",
       "create the tables if missing, or bring an older layout up to date (printing what it "
       "changed); print the local environment's GUID",
       {},
       {},
       ""},
      {"demo",
       "simulate an agent at work (nodes, VMs, operations, events, audit records), then print "
       "a summary and the newest records",
       {integer("seed", 0, 9007199254740991LL, "seed of the simulation (default 1)"),
        integer("size", 1, 100000, "number of simulated VMs (default 24)"),
        time("time", "the simulated present (default: now)")},
       {},
       kTimeHelp},
      {"import",
       "read JSON Lines (env, progress, event records); stops at the first refused or invalid "
       "record, naming its line",
       {integer("batch", 1, 1000000, "progress records saved per call (default 500)")},
       {{"FILE", "the records; '-' or none for standard input", false, true}},
       kImportFooter},
      {"save-progress", "save one progress record", {}, {{"JSON", "one progress record", true, false}},
       kImportFooter},
      {"save-event", "save one event record", {}, {{"JSON", "one event record", true, false}},
       kImportFooter},
      {"ops",
       "list progress records of operations (oldest first; with --limit the newest operations "
       "first; 1000 records unless --limit asks for more)",
       withCursorOptions({eid("operations run on behalf of this environment or naming it"),
        text("name", "N", "operations of this name"), text("id", "I", "the operation of this request id"),
        text("parent", "P", "operations of this parent request id"),
        flag("first-only", "only the first report of each operation"),
        flag("active", "only unfinished operations"),
        integer("limit", 0, kMaxUnsigned, "at most N records, newest operations first"),
        time("from", "operations started at T or later"),
        time("to", "operations started at T or earlier"),
        json("print JSON Lines in the import format"),
        flag("no-envs", "with --json, leave out the env records of the operands")}),
       {},
       kTimeHelp},
      {"events",
       "list events newest first (by source environment, or with --operand by further "
       "environment)",
       withCursorOptions({eid("events of this environment"),
        flag("operand", "match --eid as the further (\"O\") environment"),
        integer("limit", 0, kMaxUnsigned, "at most N events (default 6000)"),
        text("category", "C", "events of this category"), text("type", "T", "events of this type"),
        flag("with-data",
             "show the audit payload in the table (session, address, kind, detail); "
             "--json always carries it"),
        time("from", "at T or later"),
        time("to", "at T or earlier"), json("print JSON Lines in the import format"),
        flag("envs", "with --json, add the env records of the environments named")}),
       {},
       kTimeHelp},
      {"unfinished",
       "request identifiers of unfinished operations run on behalf of an environment, and the "
       "latest progress time",
       {{"eid", ValueKind::Guid, "GUID", "the environment", 0, 0, true},
        time("since", "progress not before T"), json("print one JSON object")},
       {},
       kTimeHelp},
      {"finish", "close the unfinished operations of the local node as canceled by restart", {},
       {}, ""},
      {"compact",
       "remove old operations or events in batches of bounded transactions (not the one "
       "transaction of the compact services), then sweep away what they leave behind; "
       "--vacuum alone gives SQLite's free pages back",
       {kVacuum},
       {},
       ""},
      {"compact ops",
       "remove ended operations recorded that long ago or earlier (what the operations "
       "compaction removes), then their progress rows, links and task rows",
       {{"age", ValueKind::Duration, "SECONDS", "age in seconds, >= 0 (units s, m, h, d allowed)", 0, 0,
         true},
        kBatch, kNoSweep, kVacuum},
       {},
       kCompactFooter},
      {"compact events",
       "keep the N newest events, remove the rest (what the events compaction removes), then "
       "their links and detail rows",
       {{"keep", ValueKind::Integer, "N", "events to keep (>= 0)", 0, 2147483647LL,
         true},
        kBatch, kNoSweep, kVacuum},
       {},
       kCompactFooter},
      {"watch",
       "live view of unfinished operations with a progress bar each, until Ctrl-C",
       {{"interval", ValueKind::Interval, "S", "seconds between refreshes (default 1)"},
        integer("count", 1, 1000000000, "stop after N refreshes")},
       {},
       ""},
      {"serve",
       "read-only web view and JSON API of the listings, until Ctrl-C",
       {{"listen", ValueKind::Listen, "ADDR:PORT",
         "where to listen (default 127.0.0.1:8080; port 0 picks a free one)"},
        {"token-file", ValueKind::TokenFile, "FILE",
         "every request then needs \"Authorization: Bearer TOKEN\" (or open the page once as "
         "/?token=TOKEN)"},
        {"request-timeout", ValueKind::Interval, "S",
         "seconds a client has to send a whole request; a slower one is disconnected "
         "(default 10)"}},
       {},
       ""},
      {"copy",
       "copy the whole log, every table and row with its ids, into an empty database of either "
       "kind; then compare row counts and checksums per table",
       {{"to", ValueKind::Text, "URL", "the empty target database (URL forms as for --db)", 0, 0,
         true},
        integer("batch", 1, 1000000, "rows per transaction on the target (default 5000)")},
       {},
       "Exits 1 when the target already holds rows, or when a table of the copy differs from "
       "the source."},
      {"help", "show the help of jrxlog or of a command",
       {flag("all", "the help of every command, one after the other")},
       {{"COMMAND", "a command, e.g. 'ops' or 'compact ops'", false, false, true}}, ""},
      {"completion", "print the bash completion script of jrxlog", {},
       {{"SHELL", "bash (the default)", false, false}},
       "Install it as /usr/share/bash-completion/completions/jrxlog, or source it:\n"
       "  source <(jrxlog completion bash)"},
  };
  return specs;
}

}  // namespace jrxlog
