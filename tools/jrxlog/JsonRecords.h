// The JSON Lines records of jrxlog ("env", "progress", "event") and their conversion to and
// from the framework's records (read in JsonRecords.cpp, written in JsonWriting.cpp, texts
// escaped in JsonText.cpp). Reading is strict: a field of the wrong type, an unknown field or
// an invalid GUID text makes the whole record invalid, so nothing of it is stored.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "JRXRecords.h"

namespace jrxlog {

// What is wrong with one record (without the line number, which the reader adds).
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct EnvRecord {
  JRX::JRXEID eid;
  std::string type;
  std::string title;
};

struct Record {
  enum Kind { ENV, PROGRESS, EVENT, CURSOR };
  Kind kind = ENV;
  EnvRecord env;
  JRX::JRXRequestProgressData progress;
  JRX::JRXEvent event;
};

// One line of the import format. `now` fills a missing "time". Throws RecordError.
Record parseRecord(const std::string& line, int64_t now);
// One object of the given kind; "kind" may be left out. Throws RecordError.
JRX::JRXRequestProgressData parseProgress(const std::string& text, int64_t now);
JRX::JRXEvent parseEvent(const std::string& text, int64_t now);

// GUID text (braces and upper case accepted); throws RecordError naming `what`.
JRX::JRXEID parseGuid(const std::string& what, const std::string& text);
// Lower-case hex of the bytes of a security identifier, and back (throws RecordError).
std::string sidToHex(const JRX::JRXSID& sid);
JRX::JRXSID hexToSid(const std::string& text);

// Texts are bytes, and JSON strings are UTF-8. A text that is well-formed UTF-8 without the
// noncharacter U+FDD0 is written as it is. In any other text, each byte that does not decode
// is written as U+FDD0 and its two lower-case hex digits, and U+FDD0 itself is doubled; the
// reader undoes both, so every text comes back byte for byte, and any JSON reader still
// reads the line (as UTF-8 holding those characters).
std::string textToJson(const std::string& text);
std::string textFromJson(const std::string& text);

// Single lines, without the newline.
std::string envToJson(const EnvRecord& env);
// `eta`: the estimated end of the record's running operation, written as "eta" (null where
// none can be made); no field without it.
std::string progressToJson(const JRX::JRXRequestProgressData& record,
                           const std::optional<long>* eta = nullptr);
std::string eventToJson(const JRX::JRXEvent& event);
// {"kind":"cursor","cursor":TEXT}: where a listing stopped; the import skips it.
std::string cursorToJson(const std::string& cursor);
// The INFO form alone (for tests and display).
std::string infoToJson(const JRX::JRXInfo& info);
JRX::JRXInfo infoFromJson(const std::string& text);

}  // namespace jrxlog
