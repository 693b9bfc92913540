// jrxlog init / finish / compact: set-up and upkeep, each telling what it did.
#include <iostream>

#include "Commands.h"
#include "LogCounts.h"
#include "Services.h"

namespace jrxlog {

int runInit(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "init takes no arguments");
  // openLog has created what was missing.
  std::cout << JRX::JRXConfiguration::getLocalEID().toString() << '\n';
  return 0;
}

int runFinish(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "finish takes no arguments");
  JRX::JRXOpLogLocal log(accessProvider());
  int result = log.finishOps();
  check(log, result);
  // Each closing report ended a command of its own before finishOps ended its command.
  const auto& ended = log.endedCommands();
  size_t closed = 0, refused = 0;
  const JRX::JRXRequestErrorData* firstRefusal = nullptr;
  for (size_t i = 0; i + 1 < ended.size(); ++i) {
    if (ended[i].code == 0) {
      ++closed;
    } else {
      ++refused;
      if (!firstRefusal) firstRefusal = &ended[i];
    }
  }
  std::cout << "closed " << closed << " unfinished operation" << (closed == 1 ? "" : "s")
            << " as canceled by restart\n";
  if (refused) {
    std::cout << refused << " could not be closed (first: "
              << errorText(firstRefusal->code, firstRefusal->message) << ")\n";
  }
  return 0;
}

int runCompact(const CommandLine& cl) {
  expectPositional(cl, 1, 1, "compact needs 'ops --age SECONDS' or 'events --keep N'");
  const std::string& what = cl.positional()[0];
  if (what == "ops") {
    if (cl.has("keep")) throw UsageError("compact ops takes --age, not --keep");
    if (!cl.has("age")) throw UsageError("compact ops needs --age SECONDS");
    int age = static_cast<int>(parseDuration("age", cl.value("age")));
    long long before = countOperations();
    int result = JRX::JRXOpLogLocal::compact(age);
    if (result != 0) throw ServiceFailure(result, "operations compact failed");
    long long after = countOperations();
    std::cout << "removed " << (before - after) << " ended operation"
              << (before - after == 1 ? "" : "s") << " recorded " << age
              << " seconds ago or earlier; " << after << " remain\n";
    return 0;
  }
  if (what == "events") {
    if (cl.has("age")) throw UsageError("compact events takes --keep, not --age");
    if (!cl.has("keep")) throw UsageError("compact events needs --keep N");
    int keep = static_cast<int>(parseInteger("keep", cl.value("keep"), 0, 2147483647LL));
    long long before = countEvents();
    int result = JRX::JRXEventLogLocal::compact(keep);
    if (result != 0) throw ServiceFailure(result, "events compact failed");
    long long after = countEvents();
    std::cout << "removed " << (before - after) << " event" << (before - after == 1 ? "" : "s")
              << "; " << after << " remain\n";
    return 0;
  }
  throw UsageError("compact what? 'ops' or 'events', not '" + what + "'");
}

}  // namespace jrxlog
