// jrxlog save-progress / save-event: one record given on the command line.
#include <ctime>
#include <iostream>

#include "Commands.h"
#include "JsonRecords.h"
#include "Services.h"

namespace jrxlog {

namespace {

struct SaveOptions {
  std::string json;
};

// The record given, saved by `save`; `said` tells what was saved.
template <class Record, class Log, class Said>
int saveOne(const std::string& json, const char* kind, Record (*parse)(const std::string&, int64_t),
            int (Log::*save)(const Record&), const Said& said) {
  Record record;
  try {
    record = parse(json, static_cast<int64_t>(std::time(nullptr)));
  } catch (const RecordError& e) {
    std::cerr << "jrxlog: invalid " << kind << " record: " << e.what() << '\n';
    return 1;
  }
  Log log(accessProvider());
  check(log, (log.*save)(record));
  std::cout << "saved " << said(record) << '\n';
  return 0;
}

int runSaveProgress(const SaveOptions& o) {
  return saveOne(o.json, "progress", parseProgress, &JRX::JRXOpLogLocal::saveProgress,
                 [](const auto& r) { return "progress of operation " + r.id; });
}

int runSaveEvent(const SaveOptions& o) {
  return saveOne(o.json, "event", parseEvent, &JRX::JRXEventLogLocal::saveEvent,
                 [](const auto& e) { return "event " + e.guid.toString(); });
}

}  // namespace

void addSaveCommands(CommandLine& cl) {
  auto progress = std::make_shared<SaveOptions>();
  addCommand(cl, "save-progress", "save one progress record", progress, runSaveProgress, kImportFooter)
      ->add_option("JSON", progress->json, "one progress record")->required();
  auto event = std::make_shared<SaveOptions>();
  addCommand(cl, "save-event", "save one event record", event, runSaveEvent, kImportFooter)
      ->add_option("JSON", event->json, "one event record")->required();
}

}  // namespace jrxlog
