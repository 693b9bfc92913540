// jrxlog save-progress / save-event: one record given on the command line.
#include <ctime>
#include <iostream>

#include "Commands.h"
#include "JsonRecords.h"
#include "Services.h"

namespace jrxlog {

int runSaveProgress(const CommandLine& cl) {
  expectPositional(cl, 1, 1, "save-progress takes one JSON object");
  JRX::JRXRequestProgressData record;
  try {
    record = parseProgress(cl.positional()[0], static_cast<int64_t>(std::time(nullptr)));
  } catch (const RecordError& e) {
    std::cerr << "jrxlog: invalid progress record: " << e.what() << '\n';
    return 1;
  }
  JRX::JRXOpLogLocal log(accessProvider());
  check(log, log.saveProgress(record));
  std::cout << "saved progress of operation " << record.id << '\n';
  return 0;
}

int runSaveEvent(const CommandLine& cl) {
  expectPositional(cl, 1, 1, "save-event takes one JSON object");
  JRX::JRXEvent event;
  try {
    event = parseEvent(cl.positional()[0], static_cast<int64_t>(std::time(nullptr)));
  } catch (const RecordError& e) {
    std::cerr << "jrxlog: invalid event record: " << e.what() << '\n';
    return 1;
  }
  JRX::JRXEventLogLocal log(accessProvider());
  check(log, log.saveEvent(event));
  std::cout << "saved event " << event.guid.toString() << '\n';
  return 0;
}

}  // namespace jrxlog
