// The ACL file: refused whole with a message naming the file, or read into a table of rights.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "JRXRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    auto table = JRX::JRXRightsTable::parseAcl(text, "agent", "fuzz.json");
    JRX::JRXEID eid;
    eid.fromString("11111111-1111-4111-8111-111111111111");
    table->holds(eid, 55);
    table->holds(JRX::JRXEID(), 54);
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind("ACL file fuzz.json: ", 0) != 0) throw;
  }
  return 0;
}
