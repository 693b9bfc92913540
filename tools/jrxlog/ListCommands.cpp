// jrxlog ops / events / unfinished: the services' queries, shown as tables or JSON Lines.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

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
const size_t kOpsPart = kMostOpsPerCall;
const size_t kFollowPart = 1000;
// Keys a follower takes as already there when it starts after a listing: a writer that took
// its key before these many others and commits only later is not waited for.
const unsigned int kFollowWindow = 1000;

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

// The text of the cursor to go on from (--after's, or the one kept in --cursor-file), read by
// `read`; empty for none.
template <class Read>
auto fromGivenCursor(const ListingOptions& o, const Read& read) -> decltype(read(std::string())) {
  if (!o.after.empty() && !o.cursorFile.empty())
    throw UsageError("--after and --cursor-file both name where to continue; give one");
  if (!o.after.empty()) return read(o.after);
  std::string text;
  std::ifstream in(o.cursorFile);  // none yet: a first run, the file is made at its end
  std::getline(in, text);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  try {
    return read(text);
  } catch (const UsageError& e) {
    const std::string what = e.what(), option = "--after: ";
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

Start whereToStart(const ListingOptions& o, const char* listing, const ListingCursor& first) {
  return fromGivenCursor(o, [&](const std::string& text) {
    Start s;
    s.listing = first;
    if (!isFollowCursor(listing, text)) {
      if (!text.empty()) s.listing = readCursor(listing, first, text);
      return s;
    }
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
    return s;
  });
}

// Shows the cursor where asked, and keeps it in the cursor file, which is replaced whole so
// that an interrupted run leaves the old cursor and never half a new one.
void endWith(const ListingOptions& o, const std::string& text, bool show = true) {
  if (show && o.showCursor)
    std::cout << (o.json ? cursorToJson(text) : "-- cursor: " + text) << '\n';
  flushOutput();
  if (o.cursorFile.empty()) return;
  const std::string temporary = o.cursorFile + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << text << '\n';
    out.flush();
    if (!out) throw std::runtime_error("cannot write the cursor file " + temporary);
  }
  if (std::rename(temporary.c_str(), o.cursorFile.c_str()) != 0)
    throw std::runtime_error("cannot replace the cursor file " + o.cursorFile + ": " +
                             std::strerror(errno));
}

using Places = std::vector<JRX::JRXListingPlace>;

// Prints the records of a listing, or of one poll of a follower, as parts of them come:
// JSON Lines to standard output at once; a table into the stream given once all are in
// (nullptr), since its columns are aligned over all of them.
template <class Record>
using Print = std::function<void(const std::vector<Record>*, std::ostream&)>;

// A listing of either kind, and where it stands in the follower's keys.
template <class Record, class Log>
struct Listing {
  const char* name;
  std::function<ListingCursor(const ListingCursor&, const std::function<void(
                                  const std::vector<Record>&, const Places&)>&)> list;
  std::function<int(Log&, const std::vector<JRX::JRXKeyRange>&, std::vector<Record>*, Places*,
                    std::vector<long long>*)> stored;
  long long JRX::JRXListingPlace::*key;
  std::function<Print<Record>()> printer;
};

template <class Record, class Log>
int runListing(const ListingOptions& o, const ListingCursor& first, const Listing<Record, Log>& l) {
  Start start = whereToStart(o, l.name, first);
  const auto handle = [&](const JRX::JRXListingPlace& place) {
    if (place.*l.key != JRX::JRXListingPlace::kWholeOperation) start.state.handle(place.*l.key);
  };
  if (!start.resumed) {
    // A follower starts where the newest stored keys are, taking them as handled (the
    // listing before it shows what it was asked for); keys among them not stored yet are
    // waited for.
    if (o.follow) {
      std::vector<long long> newest;
      Log log(accessProvider());
      check(log, log.getNewestKeys(&newest, kFollowWindow));
      start.state = FollowState(newest.empty() ? 0 : newest.front() - 1);
      for (long long key : newest) start.state.handle(key);
    }
    const Print<Record> print = l.printer();
    const ListingCursor end =
        l.list(start.listing, [&](const std::vector<Record>& records, const Places& places) {
          for (const auto& place : places) handle(place);
          print(&records, std::cout);
        });
    print(nullptr, std::cout);
    if (!o.follow) {
      endWith(o, cursorText(l.name, end));
      return 0;
    }
  }
  flushOutput();
  const auto keep = [&](bool show) {
    endWith(o, followCursorText(l.name, first, start.state.text()), show);
  };
  try {
    follow(start.state, [&](const std::vector<JRX::JRXKeyRange>& wanted,
                            const std::function<bool(long long)>& fresh) {
      Log log(accessProvider());
      std::vector<Record> records, kept;
      Places places;
      std::vector<long long> stored;
      check(log, l.stored(log, wanted, &records, &places, &stored));
      for (size_t i = 0; i < records.size(); ++i)
        if (fresh(places[i].*l.key)) kept.push_back(records[i]);
      if (kept.empty()) return stored;
      // Under the listing's table: its columns, without their header.
      std::ostringstream rows;
      const Print<Record> print = l.printer();
      print(&kept, rows);
      print(nullptr, rows);
      const std::string table = rows.str();
      std::cout << table.substr(std::min(table.size(), table.find('\n') + 1));
      flushOutput();
      return stored;
    }, kFollowPart);
  } catch (...) {
    keep(false);
    throw;
  }
  keep(true);
  return 0;
}

int runOps(const OpsOptions& o) {
  const OpsQuery& q = o.query;
  if (o.follow && q.firstOnly)
    throw UsageError("--follow prints every report as it is stored; --first-only does not go "
                     "with it");
  // Operand links of a copy depend on what its environment directory knows, so the env
  // records of the operands travel with the operations unless left out on purpose.
  EnvWriter envs(std::cout, o.json && !o.noEnvs);
  using Ops = std::vector<JRX::JRXRequestProgressData>;
  Listing<JRX::JRXRequestProgressData, JRX::JRXOpLogLocal> listing{
      "ops",
      [&](const ListingCursor& after, const OpsPart& each) {
        return listOps(q, after, kOpsPart, each);
      },
      [&](JRX::JRXOpLogLocal& log, const std::vector<JRX::JRXKeyRange>& wanted, Ops* records,
          Places* places, std::vector<long long>* stored) {
        return log.getOpsStored(records, places, stored, wanted, kFollowPart, q.eid, q.name, q.id,
                                q.parent, q.active, {q.from, q.to});
      },
      &JRX::JRXListingPlace::report,
      [&]() -> Print<JRX::JRXRequestProgressData> {
        // The listing of running operations shows when each is expected to end, as of each
        // print.
        std::shared_ptr<OperationEstimates> estimates(
            q.active ? new OperationEstimates(static_cast<long>(std::time(nullptr))) : nullptr);
        auto table = std::make_shared<Ops>();
        return [&, estimates, table](const Ops* records, std::ostream& out) {
          if (records && o.json) {
            printOpsJson(*records, std::cout, envs, estimates.get());
            flushOutput();
          } else if (records) {
            table->insert(table->end(), records->begin(), records->end());
          } else if (!o.json) {
            printOpsTable(*table, out, Terminal::of(1), estimates.get());
          }
        };
      }};
  return runListing(o, startOf(q), listing);
}

int runEvents(const EventsOptions& o) {
  EventsQuery q = o.query;
  // JSON Lines are meant to be imported again, so they carry the audit payloads.
  q.withData = q.withData || o.json;
  EnvWriter envs(std::cout, o.json && o.envs);
  using Events = std::vector<JRX::JRXEvent>;
  Listing<JRX::JRXEvent, JRX::JRXEventLogLocal> listing{
      "events",
      [&](const ListingCursor& after, const EventsPart& each) {
        return listEvents(q, after, kEventsPart, each);
      },
      [&](JRX::JRXEventLogLocal& log, const std::vector<JRX::JRXKeyRange>& wanted,
          Events* events, Places* places, std::vector<long long>* stored) {
        return log.getEventsStored(events, places, stored, wanted, kFollowPart, q.eid,
                                   q.bySource, q.category, q.type, q.withData, {q.from, q.to});
      },
      &JRX::JRXListingPlace::id,
      [&]() -> Print<JRX::JRXEvent> {
        // A long listing is reduced to its table cells part by part, so that the tool's
        // memory stays that of one part.
        auto table = std::make_shared<EventsTable>(o.query.withData);
        return [&, table](const Events* events, std::ostream& out) {
          if (events && o.json) {
            printEventsJson(*events, std::cout, envs);
            flushOutput();
          } else if (events) {
            table->add(*events);
          } else if (!o.json) {
            table->print(out, Terminal::of(1));
          }
        };
      }};
  return runListing(o, startOf(q), listing);
}

struct UnfinishedOptions {
  JRX::JRXEID eid;
  long since = 0;
  bool json = false;
};

int runUnfinished(const UnfinishedOptions& o) {
  long lastTime = o.since;
  JRX::JRXOpLogLocal log(accessProvider());
  std::vector<std::string> ids;
  const int result = log.getUnfinishedOpIds(ids, lastTime, o.eid);
  if (result != 0) throw ServiceFailure(result, "");
  if (o.json) {
    // Identifiers travel with the listings' escape, so that they match what those print.
    nlohmann::ordered_json out = {{"ids", nlohmann::ordered_json::array()}};
    for (const auto& id : ids) out["ids"].push_back(textToJson(id));
    out["lastTime"] = lastTime;
    std::cout << out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
    return 0;
  }
  for (const auto& id : ids) std::cout << oneLine(id) << '\n';
  std::cout << ids.size() << " unfinished operation" << (ids.size() == 1 ? "" : "s")
            << " on behalf of " << o.eid.toString();
  if (lastTime != 0)
    std::cout << "; latest progress " << localTime(lastTime) << " (" << lastTime << ")";
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

void addTime(CLI::App& c, const char* name, long& t, const char* help) {
  c.add_option(name, t, help)->type_name("T")->transform(timeValue());
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
  addTime(*c, "--from", q.from, "operations started at T or later");
  addTime(*c, "--to", q.to, "operations started at T or earlier");
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
  addTime(*c, "--from", q.from, "at T or later");
  addTime(*c, "--to", q.to, "at T or earlier");
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
  addTime(*c, "--since", o->since, "progress not before T");
  c->add_flag("--json", o->json, "print one JSON object");
}

}  // namespace

void addListings(CommandLine& cl) {
  addOps(cl);
  addEvents(cl);
  addUnfinished(cl);
}

}  // namespace jrxlog
