// How jrxlog reaches the log services: the database, the local identity and the client's
// rights are set up once per run; every call goes through a service object of its own, and
// a refused call becomes a ServiceFailure carrying the service's code and message.
#pragma once

#include "JRXLogMaintenance.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "JRXLogDBLocal.h"
#include "Options.h"

namespace jrxlog {

// Exit status 1 with "error CODE: MESSAGE".
class ServiceFailure : public std::runtime_error {
 public:
  ServiceFailure(int code, const std::string& message);
  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  int code_;
  std::string message_;
};

// "error CODE: MESSAGE"; a service message left empty is replaced by what the code means.
std::string errorText(int code, const std::string& message);

// Flushes standard output; throws when some of what was printed never got there (a full
// disk, a closed pipe), so that a run that lost records says so and a cursor is not moved
// past records the reader never got.
void flushOutput();

// Opens the database, applies --local-eid and --acl/--client, creates missing tables.
// Sends the library's log records to --log-file, to stderr with --verbose, or nowhere.
void routeLibraryLog(const GlobalOptions& options);
void openLog(const GlobalOptions& options);
// What openLog found of the log's layout and changed.
const JRX::JRXLayoutReport& openedLayout();

// The access provider handed to every service object of this process.
JRX::intrusive_ptr<JRX::JRXAccessProviderPrototype> accessProvider();

// The code and message with which the request's outermost command ended.
JRX::JRXRequestErrorData lastEnded(const JRX::JRXRequestLocal& request, int result);

// Throws ServiceFailure unless `result` is 0.
void check(const JRX::JRXRequestLocal& request, int result);

// finishOps: closes the local node's unfinished operations and returns how many it closed;
// those it could not close are added to `refused`.
size_t finishOps(std::vector<JRX::JRXRequestErrorData>* refused = nullptr);

}  // namespace jrxlog
