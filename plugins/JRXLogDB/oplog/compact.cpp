// Compaction of the operation log: ended operations older than an age are removed.
#include <cstdint>
#include <ctime>

#include "ASQuery.h"
#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "store/LogTables.h"

namespace JRX {

namespace {

// The column holds 32-bit seconds; the threshold wraps the way the stored times do.
int compactThreshold(int age) {
  const uint32_t now = static_cast<uint32_t>(static_cast<uint64_t>(time(nullptr)));
  return static_cast<int>(now - static_cast<uint32_t>(age));
}

}  // namespace

int JRXOpLogLocal::compact(int age) {
  op_log ops;
  try {
    JRXRdbmsTran tran;
    ASDeleter deleter(ops);
    // Only op_log rows go: progress rows, links and task rows stay, nothing joins on them
    // without their operation.
    deleter.Where(ops->time <= compactThreshold(age) && !(ops->status == 1 || ops->status == 2));
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
