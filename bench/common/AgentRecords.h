// What an agent writes in the write-rate benchmarks: operations on a VM of a node, reported
// in several steps and closed by an event, about environments every writer shares.
#pragma once

#include <string>

#include "JRXEnvDirectory.h"
#include "JRXLog.h"
#include "JRXRequest.h"

namespace opbench {

const JRX::JRXEID kLocal(0x10c41, 0x1);
const JRX::JRXEID kNode(0x70de, 0x1);
const JRX::JRXEID kVm(0x7e, 0x2);
const long kT0 = 1701000000;

// The directory entries an agent's process knows before it writes.
inline void putAgentEnvs() {
  JRX::JRXConfiguration::setLocalEID(kLocal);
  JRX::JRXEnvDirectory::put(kLocal, "node", "local-node");
  JRX::JRXEnvDirectory::put(kVm, "vm", "vm-2");
}

inline JRX::JRXInfo envRef(const JRX::JRXEID& eid, const char* title, const char* type) {
  JRX::JRXInfo ref("environment");
  ref.addParameter("eid", eid.toString());
  ref.addParameter("title", title);
  ref.addParameter("type", type);
  return ref;
}

inline JRX::JRXRequestProgressData report(const std::string& id, int status, int progress,
                                          const std::string& text) {
  JRX::JRXRequestProgressData r(id);
  r.name = "vm.start";
  r.status = status;
  r.progress = progress;
  r.time = kT0 + progress;
  r.info.setText(text);
  r.info.addParameter("source_env", envRef(kNode, "node-1", "node"));
  r.operands.insert(kVm);
  r.eid = kNode;
  return r;
}

inline JRX::JRXEvent event(const std::string& op) {
  JRX::JRXEvent e("monitor");
  e.guid = JRX::JRXGUID::generate();
  e.time = kT0;
  e.category = "vm";
  e.type = "started";
  e.code = 7;
  e.info = JRX::JRXInfo("{op} finished");
  e.info.addParameter("source_env", envRef(kNode, "node-1", "node"));
  e.info.addParameter("env", envRef(kVm, "vm-2", "vm"));
  e.info.addParameter("op", op);
  return e;
}

}  // namespace opbench
