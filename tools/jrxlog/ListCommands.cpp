// jrxlog ops / events / unfinished: the services' queries, shown as tables or JSON Lines.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <fstream>

#include <iostream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "EstimateQueries.h"
#include "Follow.h"
#include "JsonRecords.h"
#include "ListingQueries.h"
#include "Listings.h"
#include "Services.h"

namespace jrxlog {

namespace {

const size_t kEventsPart = 200;
const size_t kOpsPart = 1000;

// What both listings take besides their filters.
struct ListingOptions {
  bool json = false, showCursor = false, follow = false;
  std::string after, cursorFile;
};

struct OpsOptions : ListingOptions {
  OpsQuery query;
  bool noEnvs = false;
};

struct EventsOptions : ListingOptions {
  EventsQuery query;
  bool envs = false;
};

const size_t kFollowPart = 1000;
// Keys a follower takes as already there when it starts after a listing: a writer that took
// its key before these many others and commits only later is not waited for.
const unsigned int kFollowWindow = 1000;

// The cursor to go on from (--after's, or the one kept in --cursor-file), read by `read`;
// empty for none.
template <class Read>
auto fromGivenCursor(const ListingOptions& o, const Read& read) -> decltype(read(std::string())) {
  if (!o.after.empty() && !o.cursorFile.empty())
    throw UsageError("--after and --cursor-file both name where to continue; give one");
  if (!o.after.empty()) return read(o.after);
  std::string text;
  if (!o.cursorFile.empty()) {
    std::ifstream in(o.cursorFile);
    std::getline(in, text);  // none yet: a first run, the file is made at its end
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  }
  try {
    return read(text);
  } catch (const UsageError& e) {
    const std::string what = e.what();
    const std::string option = "--after: ";
    throw UsageError("--cursor-file " + o.cursorFile + ": " +
                     (what.rfind(option, 0) == 0 ? what.substr(option.size()) : what));
  }
}

// Where a listing starts, or where a follower stopped.
struct Start {
  ListingCursor listing;
  bool resumed = false;  // a follower's cursor: no listing, following goes on
  FollowState state;
};

Start startOf(const ListingOptions& o, const char* listing, const ListingCursor& first) {
  return fromGivenCursor(o, [&](const std::string& text) {
    Start s;
    s.listing = first;
    if (isFollowCursor(listing, text)) {
      if (!o.follow)
        throw UsageError(std::string("--after: the cursor is where jrxlog ") + listing +
                         " --follow stopped; go on with --follow");
      const std::string state = readFollowCursor(listing, first, text);
      try {
        s.state = FollowState::parse(state);
      } catch (const std::exception&) {
        throw UsageError("--after: '" + text.substr(0, 80) + "' is not a cursor of jrxlog " +
                         listing + " --follow");
      }
      s.resumed = true;
    } else if (!text.empty()) {
      s.listing = readCursor(listing, first, text);
    }
    return s;
  });
}

// The cursor file is replaced whole, so that an interrupted run leaves the old cursor and
// never half a new one.
void keepCursor(const ListingOptions& o, const std::string& text) {
  if (o.cursorFile.empty()) return;
  const std::string& path = o.cursorFile;
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << text << '\n';
    out.flush();
    if (!out) throw std::runtime_error("cannot write the cursor file " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0)
    throw std::runtime_error("cannot replace the cursor file " + path + ": " +
                             std::strerror(errno));
}

void showCursor(const ListingOptions& o, bool json, const std::string& text) {
  if (!o.showCursor) return;
  if (json)
    std::cout << cursorToJson(text) << '\n';
  else
    std::cout << "-- cursor: " << text << '\n';
}

// A follower starts where the newest stored keys are, taking them as handled (the listing
// before it showed what it was asked for); keys among them not stored yet are waited for.
FollowState followerStart(const std::vector<long long>& newest) {
  FollowState state(newest.empty() ? 0 : newest.front() - 1);
  for (long long key : newest) state.handle(key);
  return state;
}

// Follows, and keeps the follower's cursor however following ends.
void followAndKeep(const ListingOptions& o, const char* listing, const ListingCursor& first,
                   bool json, FollowState& state, const FollowPoll& poll) {
  try {
    follow(state, poll, kFollowPart);
  } catch (...) {
    keepCursor(o, followCursorText(listing, first, state.text()));
    throw;
  }
  const std::string text = followCursorText(listing, first, state.text());
  showCursor(o, json, text);
  std::cout.flush();
  keepCursor(o, text);
}

// Rows a follower prints under the listing's table: its columns, without their header.
void printUnderTable(const std::string& table) {
  const size_t header = table.find('\n');
  if (header != std::string::npos) std::cout << table.substr(header + 1);
  std::cout.flush();
}

int runOps(const OpsOptions& o) {
  const OpsQuery& q = o.query;
  const bool json = o.json, following = o.follow;
  if (following && q.firstOnly)
    throw UsageError("--follow prints every report as it is stored; --first-only does not go "
                     "with it");
  const ListingCursor first = startOf(q);
  Start start = startOf(o, "ops", first);
  // Operand links of a copy depend on what its environment directory knows, so the env
  // records of the operands travel with the operations unless left out on purpose.
  EnvWriter envs(std::cout, json && !o.noEnvs);
  // The listing of running operations shows when each is expected to end, as of each print.
  auto estimates = [&q]() {
    return std::unique_ptr<OperationEstimates>(
        q.active ? new OperationEstimates(static_cast<long>(std::time(nullptr))) : nullptr);
  };
  if (!start.resumed) {
    const auto listed = estimates();
    if (following) {
      std::vector<long long> newest;
      JRX::JRXOpLogLocal log(accessProvider());
      check(log, log.getNewestKeys(&newest, kFollowWindow));
      start.state = followerStart(newest);
    }
    std::vector<JRX::JRXRequestProgressData> table;
    const ListingCursor end =
        listOps(q, start.listing, kOpsPart,
                [&](const std::vector<JRX::JRXRequestProgressData>& records,
                    const std::vector<JRX::JRXListingPlace>& places) {
                  for (const auto& place : places)
                    if (place.report != JRX::JRXListingPlace::kWholeOperation)
                      start.state.handle(place.report);
                  if (json) {
                    printOpsJson(records, std::cout, envs, listed.get());
                    std::cout.flush();
                  } else {
                    table.insert(table.end(), records.begin(), records.end());
                  }
                });
    if (!json) printOpsTable(table, std::cout, Terminal::of(1), listed.get());
    if (!following) {
      const std::string text = cursorText("ops", end);
      showCursor(o, json, text);
      std::cout.flush();
      keepCursor(o, text);
      return 0;
    }
  }
  std::cout.flush();
  followAndKeep(o, "ops", first, json, start.state,
                [&](const std::vector<JRX::JRXKeyRange>& wanted,
                    const std::function<bool(long long)>& fresh) {
                  JRX::JRXOpLogLocal log(accessProvider());
                  std::vector<JRX::JRXRequestProgressData> records, kept;
                  std::vector<JRX::JRXListingPlace> places;
                  std::vector<long long> stored;
                  check(log, log.getOpsStored(&records, &places, &stored, wanted, kFollowPart,
                                              q.eid, q.name, q.id, q.parent, q.active,
                                              {q.from, q.to}));
                  for (size_t i = 0; i < records.size(); ++i)
                    if (fresh(places[i].report)) kept.push_back(records[i]);
                  if (kept.empty()) return stored;
                  const auto polled = estimates();
                  if (json) {
                    printOpsJson(kept, std::cout, envs, polled.get());
                    std::cout.flush();
                  } else {
                    std::ostringstream rows;
                    printOpsTable(kept, rows, Terminal::of(1), polled.get());
                    printUnderTable(rows.str());
                  }
                  return stored;
                });
  return 0;
}

int runEvents(const EventsOptions& o) {
  EventsQuery q = o.query;
  const bool json = o.json, following = o.follow;
  // JSON Lines are meant to be imported again, so they carry the audit payloads.
  q.withData = q.withData || json;
  const ListingCursor first = startOf(q);
  Start start = startOf(o, "events", first);
  EnvWriter envs(std::cout, json && o.envs);
  if (!start.resumed) {
    if (following) {
      std::vector<long long> newest;
      JRX::JRXEventLogLocal log(accessProvider());
      check(log, log.getNewestKeys(&newest, kFollowWindow));
      start.state = followerStart(newest);
    }
    // A long listing is read in parts, each printed (JSON) or reduced to its table cells as
    // it comes, so that the tool's memory stays that of one part.
    EventsTable table(o.query.withData);
    const ListingCursor end =
        listEvents(q, start.listing, kEventsPart,
                   [&](const std::vector<JRX::JRXEvent>& events,
                       const std::vector<JRX::JRXListingPlace>& places) {
                     for (const auto& place : places) start.state.handle(place.id);
                     if (json) {
                       printEventsJson(events, std::cout, envs);
                       std::cout.flush();
                     } else {
                       table.add(events);
                     }
                   });
    if (!json) table.print(std::cout, Terminal::of(1));
    if (!following) {
      const std::string text = cursorText("events", end);
      showCursor(o, json, text);
      std::cout.flush();
      keepCursor(o, text);
      return 0;
    }
  }
  std::cout.flush();
  followAndKeep(o, "events", first, json, start.state,
                [&](const std::vector<JRX::JRXKeyRange>& wanted,
                    const std::function<bool(long long)>& fresh) {
                  JRX::JRXEventLogLocal log(accessProvider());
                  std::vector<JRX::JRXEvent> events, kept;
                  std::vector<JRX::JRXListingPlace> places;
                  std::vector<long long> stored;
                  check(log, log.getEventsStored(&events, &places, &stored, wanted, kFollowPart,
                                                 q.eid, q.bySource, q.category, q.type,
                                                 q.withData, {q.from, q.to}));
                  for (size_t i = 0; i < events.size(); ++i)
                    if (fresh(places[i].id)) kept.push_back(events[i]);
                  if (kept.empty()) return stored;
                  if (json) {
                    printEventsJson(kept, std::cout, envs);
                    std::cout.flush();
                  } else {
                    EventsTable rows(o.query.withData);
                    rows.add(kept);
                    std::ostringstream text;
                    rows.print(text, Terminal::of(1));
                    printUnderTable(text.str());
                  }
                  return stored;
                });
  return 0;
}

struct UnfinishedOptions {
  JRX::JRXEID eid;
  long since = 0;
  bool json = false;
};

int runUnfinished(const UnfinishedOptions& o) {
  const JRX::JRXEID& eid = o.eid;
  long lastTime = o.since;

  JRX::JRXOpLogLocal log(accessProvider());
  std::vector<std::string> ids;
  int result = log.getUnfinishedOpIds(ids, lastTime, eid);
  if (result != 0) throw ServiceFailure(result, "");
  if (o.json) {
    nlohmann::ordered_json out;
    // Identifiers travel with the listings' escape, so that they match what those print.
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& id : ids) list.push_back(textToJson(id));
    out["ids"] = std::move(list);
    out["lastTime"] = lastTime;
    std::cout << out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
    return 0;
  }
  for (const auto& id : ids) std::cout << oneLine(id) << '\n';
  std::cout << ids.size() << " unfinished operation" << (ids.size() == 1 ? "" : "s")
            << " on behalf of " << eid.toString();
  if (lastTime != 0) std::cout << "; latest progress " << localTime(lastTime) << " (" << lastTime << ")";
  std::cout << '\n';
  return 0;
}

// --json, the option of its env records, then those that continue a listing.
void addOutputOptions(CLI::App& c, ListingOptions& o, const char* envs, bool& envsFlag,
                      const char* envsHelp) {
  c.add_flag("--json", o.json, "print JSON Lines in the import format");
  c.add_flag(envs, envsFlag, envsHelp);
  c.add_flag("--show-cursor", o.showCursor,
             "after the listing, print its cursor as the last line (\"-- cursor: TEXT\", or a "
             "{\"kind\":\"cursor\"} record with --json)");
  c.add_option("--after", o.after,
               "continue the same listing (same filters) after the record the cursor TEXT names")
      ->type_name("TEXT");
  c.add_option("--cursor-file", o.cursorFile,
               "continue after the cursor kept in FILE when it exists; keep the new cursor "
               "there at the end")
      ->type_name("FILE");
  c.add_flag("-f,--follow", o.follow,
             "after the listing, print records as they are stored, until Ctrl-C or SIGTERM "
             "(then keep the cursor); a follower's cursor goes on following");
}

void addTimes(CLI::App& c, long& from, long& to, const char* fromHelp, const char* toHelp) {
  c.add_option("--from", from, fromHelp)->type_name("T")->transform(timeValue());
  c.add_option("--to", to, toHelp)->type_name("T")->transform(timeValue());
}

void addOps(CommandLine& cl) {
  auto o = std::make_shared<OpsOptions>();
  OpsQuery& q = o->query;
  CLI::App* c = addCommand(cl, "ops",
                           "list progress records of operations (oldest first; with --limit the "
                           "newest operations first; " + std::to_string(q.limit) +
                               " records unless --limit asks for more)",
                           o, runOps, kTimeHelp);
  addGuidOption(*c, "--eid", q.eid, "operations run on behalf of this environment or naming it");
  c->add_option("--name", q.name, "operations of this name")->type_name("N");
  c->add_option("--id", q.id, "the operation of this request id")->type_name("I");
  c->add_option("--parent", q.parent, "operations of this parent request id")->type_name("P");
  c->add_flag("--first-only", q.firstOnly, "only the first report of each operation");
  c->add_flag("--active", q.active, "only unfinished operations");
  c->add_option_function<unsigned int>(
       "--limit",
       [&q](const unsigned int& n) {
         q.limit = n;
         q.newestFirst = true;
       },
       "at most N records, newest operations first")
      ->type_name("N")->check(wholeNumber(0, 4294967295LL));
  addTimes(*c, q.from, q.to, "operations started at T or later", "operations started at T or earlier");
  addOutputOptions(*c, *o, "--no-envs", o->noEnvs,
                   "with --json, leave out the env records of the operands");
}

void addEvents(CommandLine& cl) {
  auto o = std::make_shared<EventsOptions>();
  EventsQuery& q = o->query;
  CLI::App* c = addCommand(cl, "events",
                           "list events newest first (by source environment, or with --operand "
                           "by further environment)",
                           o, runEvents, kTimeHelp);
  addGuidOption(*c, "--eid", q.eid, "events of this environment");
  c->add_flag_callback("--operand", [&q] { q.bySource = false; },
                       "match --eid as the further (\"O\") environment");
  addNumber(*c, "--limit", q.limit, 0, 4294967295LL, "at most N events")->capture_default_str();
  c->add_option("--category", q.category, "events of this category")->type_name("C");
  c->add_option("--type", q.type, "events of this type")->type_name("T");
  c->add_flag("--with-data", q.withData,
              "show the audit payload in the table (session, address, kind, detail); --json "
              "always carries it");
  addTimes(*c, q.from, q.to, "at T or later", "at T or earlier");
  addOutputOptions(*c, *o, "--envs", o->envs,
                   "with --json, add the env records of the environments named");
}

void addUnfinished(CommandLine& cl) {
  auto o = std::make_shared<UnfinishedOptions>();
  CLI::App* c = addCommand(cl, "unfinished",
                           "request identifiers of unfinished operations run on behalf of an "
                           "environment, and the latest progress time",
                           o, runUnfinished, kTimeHelp);
  addGuidOption(*c, "--eid", o->eid, "the environment")->required();
  c->add_option("--since", o->since, "progress not before T")->type_name("T")->transform(timeValue());
  c->add_flag("--json", o->json, "print one JSON object");
}

}  // namespace

void addListings(CommandLine& cl) {
  addOps(cl);
  addEvents(cl);
  addUnfinished(cl);
}

}  // namespace jrxlog
