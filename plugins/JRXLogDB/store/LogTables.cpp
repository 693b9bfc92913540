#include "store/LogTables.h"

#include "store/LogLayout.h"

namespace JRX {

void createLogTables(ASSession* session) { upgradeLogLayout(session); }

}  // namespace JRX
