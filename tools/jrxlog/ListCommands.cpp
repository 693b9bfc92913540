// jrxlog ops / events / unfinished: the services' queries, shown as tables or JSON Lines.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
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

// Where the listing starts: after --after's cursor, after the one kept in --cursor-file, or
// at the beginning.
ListingCursor startingCursor(const CommandLine& cl, const char* listing, const ListingCursor& start) {
  if (cl.has("after") && cl.has("cursor-file"))
    throw UsageError("--after and --cursor-file both name where to continue; give one");
  if (cl.has("after")) return readCursor(listing, start, cl.value("after"));
  if (!cl.has("cursor-file")) return start;
  std::ifstream in(cl.value("cursor-file"));
  if (!in) return start;  // a first run: the file is made at its end
  std::string text;
  std::getline(in, text);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  if (text.empty()) return start;
  try {
    return readCursor(listing, start, text);
  } catch (const UsageError& e) {
    throw UsageError("--cursor-file " + cl.value("cursor-file") + ": " +
                     std::string(e.what()).substr(std::string("--after: ").size()));
  }
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

}  // namespace

int runOps(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "ops takes no arguments");
  const OpsQuery q = opsQuery(CommandOptions(cl));
  const ListingCursor from = startingCursor(cl, "ops", startOf(q));
  const bool json = cl.has("json");
  // Operand links of a copy depend on what its environment directory knows, so the env
  // records of the operands travel with the operations unless left out on purpose.
  EnvWriter envs(std::cout, json && !cl.has("no-envs"));
  std::vector<JRX::JRXRequestProgressData> table;
  const ListingCursor end =
      listOps(q, from, kOpsPart, [&](const std::vector<JRX::JRXRequestProgressData>& records) {
        if (json) {
          printOpsJson(records, std::cout, envs);
          std::cout.flush();
        } else {
          table.insert(table.end(), records.begin(), records.end());
        }
      });
  if (!json) printOpsTable(table, std::cout, Terminal::of(1));
  const std::string text = cursorText("ops", end);
  showCursor(cl, json, text);
  std::cout.flush();
  keepCursor(cl, text);
  return 0;
}

int runEvents(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "events takes no arguments");
  EventsQuery q = eventsQuery(CommandOptions(cl));
  const ListingCursor from = startingCursor(cl, "events", startOf(q));
  const bool json = cl.has("json");
  // JSON Lines are meant to be imported again, so they carry the audit payloads.
  q.withData = q.withData || json;
  // A long listing is read in parts, each printed (JSON) or reduced to its table cells as it
  // comes, so that the tool's memory stays that of one part.
  EnvWriter envs(std::cout, json && cl.has("envs"));
  EventsTable table(cl.has("with-data"));
  const ListingCursor end =
      listEvents(q, from, kEventsPart, [&](const std::vector<JRX::JRXEvent>& events) {
        if (json) {
          printEventsJson(events, std::cout, envs);
          std::cout.flush();
        } else {
          table.add(events);
        }
      });
  if (!json) table.print(std::cout, Terminal::of(1));
  const std::string text = cursorText("events", end);
  showCursor(cl, json, text);
  std::cout.flush();
  keepCursor(cl, text);
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
