// Conditions shared by the restart-recovery queries.
#pragma once

#include "ASQuery.h"
#include "store/LogTables.h"

namespace JRX {
namespace logdb {

// `envs.eid` is not a node listed in Environment other than the local one.
ASComparison getOpsSourceCondition(env_log& envs);

// `latest` is the newest progress row (highest data_id) of the operation whose key is
// `opKey`: `later` is left-joined as a newer row of the same operation and must be missing.
ASComparison getLeftJoin(op_log_data& latest, op_log_data& later, const ASAttribute& opKey);

}  // namespace logdb
}  // namespace JRX
