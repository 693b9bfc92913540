// One line of `jrxlog import`: a record is either refused with a RecordError or read whole,
// and what was read prints as JSON that reads back to the same line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "JsonRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  jrxlog::Record r;
  try {
    r = jrxlog::parseRecord(line, 1701000000);
  } catch (const jrxlog::RecordError&) {
    return 0;
  }
  std::string printed;
  switch (r.kind) {
    case jrxlog::Record::ENV: printed = jrxlog::envToJson(r.env); break;
    case jrxlog::Record::PROGRESS: printed = jrxlog::progressToJson(r.progress); break;
    case jrxlog::Record::EVENT: printed = jrxlog::eventToJson(r.event); break;
    case jrxlog::Record::CURSOR: return 0;  // what import skips
  }
  // What the listings print must import again.
  try {
    jrxlog::parseRecord(printed, 1701000000);
  } catch (const jrxlog::RecordError&) {
    std::abort();
  }
  return 0;
}
