// Process-wide state shared between the framework's own parts (not for the plug-in).
#pragma once

#include "JRXGUID.h"

namespace JRX {
namespace detail {

// The local environment identifier kept in the open database (invalid: none).
void setStoredLocalEID(const JRXEID& eid);

}  // namespace detail
}  // namespace JRX
