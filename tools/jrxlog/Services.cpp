#include "Services.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "JRXEnvDirectory.h"
#include "JRXLog.h"
#include "JRXLogMaintenance.h"
#include "JRXRdbms.h"
#include "JsonRecords.h"
#include "JRXResultCodes.h"

namespace jrxlog {

namespace {

// The tool serves every environment itself: there is no agent to forward to.
class ToolAccess : public JRX::JRXAccessPrototype {
 public:
  bool isLocal(const JRX::JRXEID&) override { return true; }
};

class ToolAccessProvider : public JRX::JRXAccessProviderPrototype {
 public:
  JRX::intrusive_ptr<JRX::JRXAccessPrototype> getAccess() override {
    return JRX::intrusive_ptr<JRX::JRXAccessPrototype>(new ToolAccess());
  }
};

JRX::JRXLayoutReport& layoutReport() {
  static JRX::JRXLayoutReport report;
  return report;
}

}  // namespace

ServiceFailure::ServiceFailure(int code, const std::string& message)
    : std::runtime_error(errorText(code, message)), code_(code), message_(message) {}

std::string errorText(int code, const std::string& message) {
  std::string text = message;
  if (text.empty()) {
    switch (code) {
      case JRX::kRightRefused: text = "access denied"; break;
      case JRX::kNotSerialisable: text = "a value cannot be serialised"; break;
      case JRX::kDatabaseFailure: text = "refused by the log"; break;
      default: text = "failed"; break;
    }
  }
  return "error " + std::to_string(code) + ": " + text;
}

void flushOutput() {
  errno = 0;
  std::cout.flush();
  if (std::cout) return;
  const int failure = errno;
  throw std::runtime_error(std::string("cannot write the output") +
                           (failure != 0 ? std::string(": ") + std::strerror(failure) : ""));
}

void routeLibraryLog(const GlobalOptions& options) {
  // The operator reads the tool's own words; the library's records are for whoever keeps a
  // file of them, or asks to see them.
  int level = JRX::logLevelFromEnvironment(2);
  std::shared_ptr<JRX::JRXLogSink> sink;
  if (!options.logFile.empty())
    sink = JRX::JRXStreamLogSink::appendingTo(options.logFile, level);
  else if (options.verbose)
    sink = std::make_shared<JRX::JRXStreamLogSink>(stderr, level);
  else
    sink = std::make_shared<JRX::JRXNullLogSink>();
  JRX::setLogSink(sink);
}

void openLog(const GlobalOptions& options) {
  JRX::JRXEID local;
  if (!options.localEid.empty()) {
    try {
      local = parseGuid("local-eid", options.localEid);
    } catch (const RecordError& e) {
      throw UsageError(std::string("--local-eid: ") + e.what());
    }
    if (!local.isValid()) throw UsageError("--local-eid: the all-zero GUID names no environment");
  }
  std::shared_ptr<JRX::JRXRightsTable> rights;
  if (!options.aclFile.empty())
    rights = JRX::JRXRightsTable::loadAclFile(options.aclFile, options.client);

  JRX::JRXDatabase::open(options.db);
  if (local.isValid()) JRX::JRXConfiguration::setLocalEID(local);
  if (rights) JRX::JRXAccessChecker::setDefault(std::make_shared<JRX::JRXAccessChecker>(rights));
  layoutReport() = JRX::openLogLayout();
}

const JRX::JRXLayoutReport& openedLayout() { return layoutReport(); }

JRX::intrusive_ptr<JRX::JRXAccessProviderPrototype> accessProvider() {
  static JRX::intrusive_ptr<JRX::JRXAccessProviderPrototype> provider(new ToolAccessProvider());
  return provider;
}

JRX::JRXRequestErrorData lastEnded(const JRX::JRXRequestLocal& request, int result) {
  const auto& ended = request.endedCommands();
  if (ended.empty()) return JRX::JRXRequestErrorData(result, "");
  JRX::JRXRequestErrorData e = ended.back();
  e.code = result;
  return e;
}

void check(const JRX::JRXRequestLocal& request, int result) {
  if (result == 0) return;
  JRX::JRXRequestErrorData e = lastEnded(request, result);
  throw ServiceFailure(e.code, e.message);
}

size_t finishOps(std::vector<JRX::JRXRequestErrorData>* refused) {
  JRX::JRXOpLogLocal log(accessProvider());
  check(log, log.finishOps());
  // Each closing report ended a command of its own before finishOps ended its command.
  const auto& ended = log.endedCommands();
  size_t closed = 0;
  for (size_t i = 0; i + 1 < ended.size(); ++i) {
    if (ended[i].code == 0)
      ++closed;
    else if (refused)
      refused->push_back(ended[i]);
  }
  return closed;
}

}  // namespace jrxlog
