// The selection behind getOps: which operations, in which order, read one at a time so
// that the caller stops reading once it has enough.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "JRXGUID.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "store/LogTables.h"
#include "store/TimeSteps.h"

namespace JRX {

struct OpFilter {
  JRXEID eid;  // invalid: any; otherwise operations that have it among their operands
  std::string name, id, parentId;  // empty: any
  bool activeOnly = false;
  bool newestFirst = true;   // else oldest first
  logdb::TimeRange range;    // default: no bounds
  // Only the operation of this place and those after it (its reports are the caller's).
  const JRXListingPlace* after = nullptr;
  unsigned int wanted = 0;   // about how many operations the caller will take
};

class OpSelection {
 public:
  OpSelection(ASSession* session, const OpFilter& filter);
  ~OpSelection();
  // The next operation's row, valid until the next call; null after the last.
  const op_log* next();

 private:
  std::unique_ptr<ASCursor> open(const logdb::TimeStep& step);
  logdb::TimeRange range() const;
  // TimeSteps' probe along the index of `column` (OpSelection.cpp).
  logdb::TimeSteps::TimeAtDepth depthAlong(int column) const;

  ASSession* session_;
  OpFilter filter_;
  op_log ops_;
  op_log_env link_;
  std::vector<int> envIds_;
  // What a walk goes along: the time index (0), or that of the name or the parent.
  int walk_ = 0;
  // Set when the operations of an environment are found in steps; otherwise one statement.
  std::unique_ptr<logdb::TimeSteps> steps_;
  std::unique_ptr<ASCursor> cursor_;
  long long lastId_ = -1;
  bool started_ = false;
  bool none_ = false;
};

}  // namespace JRX
