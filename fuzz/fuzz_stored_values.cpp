// Column values as the log reads them back from a row, whatever another program (or a damaged
// file) wrote there: the information record's text and binary forms, an event's payload and a
// security identifier's hex text. The first byte chooses the reader.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "JRXConversions.h"
#include "store/ValueEncodings.h"

using namespace JRX;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t which = data[0] % 4;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (which) {
    case 0: {
      JRXInfo info;
      if (logdb::getInfoFromString(bytes.c_str(), info) == 0) {
        std::string text;
        if (logdb::putInfoToString(info, text) != 0) std::abort();
      }
      break;
    }
    case 1: {
      JRXInfo info;
      if (logdb::getInfoFromBinary(bytes.data(), bytes.size(), info) == 0) {
        // What was read is written again, and reads back to the same form.
        std::string binary, again;
        JRXInfo back;
        if (logdb::putInfoToBinary(info, binary) != 0 ||
            logdb::getInfoFromBinary(binary.data(), binary.size(), back) != 0 ||
            logdb::putInfoToBinary(back, again) != 0 || again != binary)
          std::abort();
      }
      break;
    }
    case 2: {
      boost::shared_ptr<JRXEventData> payload;
      logdb::getEventDataFromBinary(bytes.data(), bytes.size(), payload);
      if (payload) {
        std::string binary;
        logdb::putEventDataToBinary(payload, binary);
      }
      break;
    }
    case 3: {
      JRXSID sid = sqlToSid(Str(bytes));
      if (sid.data.size() > bytes.size() / 2) std::abort();
      break;
    }
  }
  return 0;
}
