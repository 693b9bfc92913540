// How framework values become column values and back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <boost/shared_ptr.hpp>

#include "ASQuery.h"
#include "JRXInfo.h"
#include "JRXRecords.h"

namespace JRX {
namespace logdb {

// Text form of an information record (its serialisation); 0 on success.
int putInfoToString(const JRXInfo& info, std::string& out);
// From a NUL-terminated text; the serialiser's result.
int getInfoFromString(const char* text, JRXInfo& out);
// Binary form: 0; -6 null data; -13 no message or iterator; -5 load or element read failed.
int getInfoFromBinary(const void* data, size_t size, JRXInfo& out);
// Binary form of a record (message "packet", element 1134); 0 on success.
int putInfoToBinary(const JRXInfo& info, std::string& out);

// Payload as any-data of type 1307, element 1913 (derived writer); 0 on success.
int putEventDataToBinary(const boost::shared_ptr<JRXEventData>& data, std::string& out);
// Reads a payload; on failure `out` stays as it was. No result the callers look at.
void getEventDataFromBinary(const void* data, size_t size, boost::shared_ptr<JRXEventData>& out);

// A text as blob bytes with its terminating NUL (length + 1), and back (up to the NUL).
RealBlob textBlob(const std::string& text);
std::string blobText(const ASValue& blob);
// The same text, read in place: valid while the value is.
std::string_view blobTextView(const ASValue& blob);

// Times: the low 32 bits in, sign-extended out.
inline int timeToSql(int64_t t) { return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(t))); }
inline int64_t sqlToTime(const ASValue& v) { return static_cast<int64_t>(static_cast<int32_t>(v.AsInt64())); }

}  // namespace logdb
}  // namespace JRX
