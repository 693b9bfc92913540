#include "JRXLogDBLocal.h"

namespace JRX {

int JRXOpLogLocal::putOps(const std::vector<JRXRequestProgressData>& records) {
  beginCommand();
  int result = 0;
  for (const JRXRequestProgressData& record : records) {
    result = saveProgress(record);
    if (result != 0) break;
  }
  // No message of its own: the failing record's command has already set the last error.
  return endCommand(JRXRequestErrorData(result, ""));
}

}  // namespace JRX
