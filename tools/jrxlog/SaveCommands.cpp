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

int runSaveProgress(const SaveOptions& o) {
  JRX::JRXRequestProgressData record;
  try {
    record = parseProgress(o.json, static_cast<int64_t>(std::time(nullptr)));
  } catch (const RecordError& e) {
    std::cerr << "jrxlog: invalid progress record: " << e.what() << '\n';
    return 1;
  }
  JRX::JRXOpLogLocal log(accessProvider());
  check(log, log.saveProgress(record));
  std::cout << "saved progress of operation " << record.id << '\n';
  return 0;
}

int runSaveEvent(const SaveOptions& o) {
  JRX::JRXEvent event;
  try {
    event = parseEvent(o.json, static_cast<int64_t>(std::time(nullptr)));
  } catch (const RecordError& e) {
    std::cerr << "jrxlog: invalid event record: " << e.what() << '\n';
    return 1;
  }
  JRX::JRXEventLogLocal log(accessProvider());
  check(log, log.saveEvent(event));
  std::cout << "saved event " << event.guid.toString() << '\n';
  return 0;
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
