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

class CommandOptions : public OptionSource {
 public:
  explicit CommandOptions(const CommandLine& cl) : cl_(cl) {}
  bool has(const std::string& name) const override { return cl_.has(name); }
  std::string value(const std::string& name) const override { return cl_.value(name); }

 private:
  const CommandLine& cl_;
};

}  // namespace

namespace {

const size_t kFollowPart = 1000;
// Keys a follower takes as already there when it starts after a listing: a writer that took
// its key before these many others and commits only later is not waited for.
const unsigned int kFollowWindow = 1000;

// The cursor to go on from (--after's, or the one kept in --cursor-file), read by `read`;
// empty for none.
template <class Read>
auto fromGivenCursor(const CommandLine& cl, const Read& read) -> decltype(read(std::string())) {
  if (cl.has("after") && cl.has("cursor-file"))
    throw UsageError("--after and --cursor-file both name where to continue; give one");
  if (cl.has("after")) return read(cl.value("after"));
  std::string text;
  if (cl.has("cursor-file")) {
    std::ifstream in(cl.value("cursor-file"));
    std::getline(in, text);  // none yet: a first run, the file is made at its end
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  }
  try {
    return read(text);
  } catch (const UsageError& e) {
    const std::string what = e.what();
    const std::string option = "--after: ";
    throw UsageError("--cursor-file " + cl.value("cursor-file") + ": " +
                     (what.rfind(option, 0) == 0 ? what.substr(option.size()) : what));
  }
}

// Where a listing starts, or where a follower stopped.
struct Start {
  ListingCursor listing;
  bool resumed = false;  // a follower's cursor: no listing, following goes on
  FollowState state;
};

Start startOf(const CommandLine& cl, const char* listing, const ListingCursor& first) {
  return fromGivenCursor(cl, [&](const std::string& text) {
    Start s;
    s.listing = first;
    if (isFollowCursor(listing, text)) {
      if (!cl.has("follow"))
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
void keepCursor(const CommandLine& cl, const std::string& text) {
  if (!cl.has("cursor-file")) return;
  const std::string path = cl.value("cursor-file");
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

void showCursor(const CommandLine& cl, bool json, const std::string& text) {
  if (!cl.has("show-cursor")) return;
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
void followAndKeep(const CommandLine& cl, const char* listing, const ListingCursor& first,
                   bool json, FollowState& state, const FollowPoll& poll) {
  try {
    follow(state, poll, kFollowPart);
  } catch (...) {
    keepCursor(cl, followCursorText(listing, first, state.text()));
    throw;
  }
  const std::string text = followCursorText(listing, first, state.text());
  showCursor(cl, json, text);
  std::cout.flush();
  keepCursor(cl, text);
}

// Rows a follower prints under the listing's table: its columns, without their header.
void printUnderTable(const std::string& table) {
  const size_t header = table.find('\n');
  if (header != std::string::npos) std::cout << table.substr(header + 1);
  std::cout.flush();
}

}  // namespace

int runOps(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "ops takes no arguments");
  const OpsQuery q = opsQuery(CommandOptions(cl));
  const bool json = cl.has("json"), following = cl.has("follow");
  if (following && q.firstOnly)
    throw UsageError("--follow prints every report as it is stored; --first-only does not go "
                     "with it");
  const ListingCursor first = startOf(q);
  Start start = startOf(cl, "ops", first);
  // Operand links of a copy depend on what its environment directory knows, so the env
  // records of the operands travel with the operations unless left out on purpose.
  EnvWriter envs(std::cout, json && !cl.has("no-envs"));
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
      showCursor(cl, json, text);
      std::cout.flush();
      keepCursor(cl, text);
      return 0;
    }
  }
  std::cout.flush();
  followAndKeep(cl, "ops", first, json, start.state,
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

int runEvents(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "events takes no arguments");
  EventsQuery q = eventsQuery(CommandOptions(cl));
  const bool json = cl.has("json"), following = cl.has("follow");
  // JSON Lines are meant to be imported again, so they carry the audit payloads.
  q.withData = q.withData || json;
  const ListingCursor first = startOf(q);
  Start start = startOf(cl, "events", first);
  EnvWriter envs(std::cout, json && cl.has("envs"));
  if (!start.resumed) {
    if (following) {
      std::vector<long long> newest;
      JRX::JRXEventLogLocal log(accessProvider());
      check(log, log.getNewestKeys(&newest, kFollowWindow));
      start.state = followerStart(newest);
    }
    // A long listing is read in parts, each printed (JSON) or reduced to its table cells as
    // it comes, so that the tool's memory stays that of one part.
    EventsTable table(cl.has("with-data"));
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
      showCursor(cl, json, text);
      std::cout.flush();
      keepCursor(cl, text);
      return 0;
    }
  }
  std::cout.flush();
  followAndKeep(cl, "events", first, json, start.state,
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
                    EventsTable rows(cl.has("with-data"));
                    rows.add(kept);
                    std::ostringstream text;
                    rows.print(text, Terminal::of(1));
                    printUnderTable(text.str());
                  }
                  return stored;
                });
  return 0;
}

int runUnfinished(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "unfinished takes no arguments");
  if (!cl.has("eid")) throw UsageError("unfinished needs --eid GUID");
  CommandOptions options(cl);
  JRX::JRXEID eid = eidOption(options);
  long lastTime = timeOption(options, "since", 0);

  JRX::JRXOpLogLocal log(accessProvider());
  std::vector<std::string> ids;
  int result = log.getUnfinishedOpIds(ids, lastTime, eid);
  if (result != 0) throw ServiceFailure(result, "");
  if (cl.has("json")) {
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

}  // namespace jrxlog
