// URL form: fault:<url of any other driver>.
#include "FaultConnection.h"

namespace {

std::unique_ptr<ASDriverConnection> openFault(const std::string& url, unsigned long instance) {
  std::string inner = url.substr(url.find(':') + 1);
  if (inner.empty() || inner.compare(0, 6, "fault:") == 0)
    throw AException("database URL '" + url + "' must wrap another database URL");
  return std::unique_ptr<ASDriverConnection>(
      new FaultConnection(ASOpenConnection(inner, instance)));
}

ASDriverRegistration registration("fault", &openFault);

}  // namespace
