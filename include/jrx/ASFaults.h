// Fault injection for tests: a database opened with a URL "fault:<url>" runs every statement
// through a wrapping driver that consults these switches. Process-wide; tests reset them.
#pragma once

#include <functional>
#include <string>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace ASFaults {

// The nth statement from now (1 = the next) whose SQL text contains `match` (empty: any)
// fails with AException(text) instead of running. The connection stays usable.
void FailStatement(int nth, const std::string& match = "",
                   const std::string& text = "injected statement failure");

// The nth matching statement from now finds the connection dropped: it fails with an
// AException flagged ConnectionLost and the open transaction is gone (rolled back).
void DropConnection(int nth, const std::string& match = "");

// The nth matching statement from now fails as a deadlock victim does: an AException of
// kind AS_ERROR_CONFLICT, and the open transaction is rolled back by the database.
void ConflictStatement(int nth, const std::string& match = "");

// Just before the nth matching statement from now, `act` runs on the thread about to run it,
// outside every lock of these switches; then the statement runs. For making another
// connection's work land at one exact moment of a transaction.
void BeforeStatement(int nth, const std::string& match, std::function<void()> act);

// Forget every armed fault.
void Clear();

// Statements that went through a fault-wrapped connection since the last Clear().
int StatementsSeen();

// Statements a fault-wrapped connection prepared since the last Clear() (a statement that
// runs again from the session's statement cache is not prepared again).
int StatementsPrepared();

}  // namespace ASFaults

JRX_PUBLIC_END
