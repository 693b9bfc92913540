// Compaction of the operation log: ended operations older than an age are removed.
#include "ASQuery.h"
#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "store/CompactionRules.h"
#include "store/LogTables.h"

namespace JRX {

int JRXOpLogLocal::compact(int age) {
  op_log ops;
  try {
    JRXRdbmsTran tran;
    ASDeleter deleter(ops);
    // Only op_log rows go: progress rows, links and task rows stay, nothing joins on them
    // without their operation (the maintenance sweep, JRXLogMaintenance.h, takes them away).
    deleter.Where(compactedOps(ops, age));
    deleter.Execute(*tran);
    tran.commit();
    Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", __LINE__, "compact",
         __PRETTY_FUNCTION__)
        .put(1, "compact %d", age);
    return 0;
  } catch (const AException& e) {
    Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", __LINE__, "compact",
         __PRETTY_FUNCTION__)
        .put(1, "Operations compact failed.");
    return onRdbmsError(e);
  }
}

}  // namespace JRX
