// Hands callers an observer of operation progress, created locally or reached through an
// agent, from the factories registered by the framework.
#pragma once

#include <string>

#include "JRXFunctional.h"
#include "JRXRecords.h"
#include "JRXRequest.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

class JRXOpLogObserverFactory
    : public JRXFunctionalMultiplexer<intrusive_ptr<JRXReceiver<JRXRequestProgressData>>> {
 public:
  typedef intrusive_ptr<JRXReceiver<JRXRequestProgressData>> Observer;

  Observer getOpLogObserverLocal(intrusive_ptr<JRXAccessProviderPrototype> provider,
                                 const std::string& name);
  Observer getOpLogObserverAgent(const JRXEID& eid,
                                 intrusive_ptr<JRXAccessProviderPrototype> provider,
                                 const std::string& name);
  Observer getOpLogObserver(const JRXEID& eid, intrusive_ptr<JRXAccessProviderPrototype> provider,
                            const std::string& name);
};

}  // namespace JRX

JRX_PUBLIC_END
