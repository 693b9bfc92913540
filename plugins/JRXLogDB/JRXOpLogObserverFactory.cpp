#include "JRXOpLogObserverFactory.h"

namespace JRX {

JRXOpLogObserverFactory::Observer JRXOpLogObserverFactory::getOpLogObserverLocal(
    intrusive_ptr<JRXAccessProviderPrototype> provider, const std::string& name) {
  return getLocal(provider, name);
}

JRXOpLogObserverFactory::Observer JRXOpLogObserverFactory::getOpLogObserverAgent(
    const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> provider,
    const std::string& name) {
  return getAgent(eid, provider, name);
}

JRXOpLogObserverFactory::Observer JRXOpLogObserverFactory::getOpLogObserver(
    const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> provider,
    const std::string& name) {
  return get(eid, provider, name);
}

}  // namespace JRX
