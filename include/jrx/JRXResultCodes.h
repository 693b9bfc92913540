// The result codes every service call and the framework's helpers answer with, beside 0
// (success). A caller compares against these names, never the bare numbers.
#pragma once

namespace JRX {

// The client lacks the right the call needs on one of the environments it names.
constexpr int kRightRefused = 414;
// A value of the record cannot be serialised for storing.
constexpr int kNotSerialisable = 400;
// The database failed (the message is its text), or the log refused the record (its own).
constexpr int kDatabaseFailure = 3101;

}  // namespace JRX
