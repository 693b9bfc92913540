// Process-wide state shared between the framework's own parts (not for the plug-in).
#pragma once

#include "ASQuery.h"
#include "JRXGUID.h"

namespace JRX {
namespace detail {

// The local environment identifier kept in the open database (invalid: none).
void setStoredLocalEID(const JRXEID& eid);

// Remembers a database failure as this thread's last (lastRdbmsFailure, retryService).
void noteRdbmsFailure(const AException& e);

}  // namespace detail
}  // namespace JRX
