#pragma once

#include <string>

// What the armed faults make of the next statement.
enum class FaultAction { None, Fail, Drop, Conflict };

// Counts the statement and consumes the fault it triggers; `text` receives the failure text.
FaultAction faultCheck(const std::string& sql, std::string& text);

void faultCountPrepare();

[[noreturn]] void faultThrowFailure(const std::string& text);
[[noreturn]] void faultThrowLost();
[[noreturn]] void faultThrowConflict();
