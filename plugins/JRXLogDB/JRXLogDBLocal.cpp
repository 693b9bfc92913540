#include "JRXLogDBLocal.h"

#include "JRXRdbms.h"
#include "store/LogTables.h"

namespace JRX {

JRXOpLogLocal::JRXOpLogLocal(intrusive_ptr<JRXAccessProviderPrototype> provider)
    : JRXRequestModificatorLocal<JRXOpLog>(provider) {}

JRXOpLogLocal::~JRXOpLogLocal() = default;

int JRXOpLogLocal::endCommand(const JRXRequestErrorData& error) {
  // Only a failure that says something is worth keeping: a bare code (a refused right, or a
  // batch that only passes on its record's code) must not overwrite a more telling one.
  if (error.code != 0 && !error.message.empty()) getContextLocal()->setLastError(error);
  return JRXRequestLocal::endCommand(error);
}

JRXEventLogLocal::JRXEventLogLocal(intrusive_ptr<JRXAccessProviderPrototype> provider)
    : JRXRequestModificatorLocal<JRXEventLog>(provider) {}

JRXEventLogLocal::~JRXEventLogLocal() = default;

unsigned int getRecordsLimit(unsigned int a, unsigned int b) { return a < b ? a : b; }

const Str& emptyStr() {
  static const Str empty;
  return empty;
}

namespace {
// Made while the library loads, so that no query ever races to construct it.
const Str& loadedEmptyStr = emptyStr();
}  // namespace

void createLogTables() { createLogTables(JRXDatabase::get()->Session()); }

}  // namespace JRX
