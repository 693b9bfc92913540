// Binary form of framework messages and of any-data containers.
//
// All integers are little-endian; STR is a u32 byte count followed by the bytes.
//
// Message:
//   offset size
//    0     4   magic "JRXM"
//    4     1   format revision, 1
//    5     4   flags (u32), as given to serialize
//    9     4   version (u32), as given to serialize (the logs pass 40500)
//   13     4   body length (u32): the bytes after this header, exactly
//   17     4   CRC-32 (IEEE 802.3) of the body
//   21     -   body: STR message name, then the root ELEMENT
//
// ELEMENT:
//   i32  id
//   u8   field mask; the fields present follow in this order:
//          0x01 ns (i32)   0x02 nsName (STR)   0x04 type (i32)   0x08 typeNs (i32)
//          0x10 typeName (STR)   0x20 typeNsName (STR)   0x40 nsType (i32); 0x80 must be 0
//   u8   value kind: 0 none, 1 integer (i64 follows), 2 bytes (STR follows)
//   u32  child count, then the children, each an ELEMENT
//
// Any-data container (JRXAnyData):
//    0     4   magic "JRXA"
//    4     4   container type (i32)
//    8     -   a message, as above, to the end of the input
//
// The reader checks every length and count against the bytes that remain before using it,
// accepts nothing after the body, refuses nesting deeper than kMaxElementDepth and any
// body whose checksum differs (so a flipped bit anywhere is caught), and never reads outside
// the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "JRXMessage.h"

namespace JRX {
namespace msgformat {

const int kMaxElementDepth = 4096;
const size_t kHeaderSize = 21;

enum Result {
  OK = 0,
  TRUNCATED = -2,     // the input ends before what it announces
  BAD_MAGIC = -3,     // not a message of ours, or an unknown format revision
  BAD_CHECKSUM = -4,  // the body is not what was written
  MALFORMED = -5,     // impossible field values, counts or trailing bytes
  TOO_DEEP = -6,      // nesting beyond kMaxElementDepth
  TOO_BIG = -7,       // a value too large to be written
  BAD_TYPE = -8,      // an any-data container of another type
};

uint32_t crc32(const void* data, size_t size);

// The whole message in binary form.
int encode(const std::string& name, const JRXMessageElement& root, uint32_t flags,
           uint32_t version, std::string& out);
// Parses a whole message; `root` gets the tree (its own id and fields included).
int decode(const char* data, size_t size, std::string& name, JRXMessageElement& root);

}  // namespace msgformat
}  // namespace JRX
