// The information record's stored JSON form, as the framework reads it back and as the tool
// reads an "info" object: a text is refused or read, and what was read serialises again to a
// text that reads back to the same record.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "JRXInfo.h"
#include "JsonRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  JRX::JRXInfo info;
  if (info.deserializeFromString(text.c_str()) == 0) {
    std::string again;
    if (info.serializeToString(again) != 0) std::abort();
    JRX::JRXInfo back;
    std::string third;
    if (back.deserializeFromString(again.c_str()) != 0 || back.serializeToString(third) != 0 ||
        third != again)
      std::abort();
  }
  try {
    JRX::JRXInfo fromTool = jrxlog::infoFromJson(text);
    jrxlog::infoToJson(fromTool);
  } catch (const jrxlog::RecordError&) {
  }
  return 0;
}
