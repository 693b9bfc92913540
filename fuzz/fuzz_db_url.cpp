// Database URLs with their parameters: a mysql:// URL is refused with an AException that
// names it, or parsed into a target whose database name holds only the allowed characters.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ASQuery.h"
#include "MariaUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string url = "mysql://" + std::string(reinterpret_cast<const char*>(data), size);
  try {
    MariaTarget t = parseMariaUrl(url);
    for (char c : t.database)
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '-'))
        std::abort();
    if (t.connectTimeout > 3600) std::abort();
  } catch (const AException& e) {
    if (e.Text().str().find("database URL") == std::string::npos) std::abort();
  }
  return 0;
}
