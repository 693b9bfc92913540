#include "JRXEnvDirectory.h"
#include "JRXInfo.h"
#include "JRXGUID.h"

namespace JRX {

JRXEnvInfo::JRXEnvInfo(const JRXEID& eid) {
  addParameter("eid", eid.toString());
  std::string type, title;
  if (JRXEnvDirectory::lookup(eid, type, title)) {
    addParameter("type", type);
    addParameter("title", title);
  }
}

}  // namespace JRX
