#include "JRXGUID.h"
#include "ASHex.h"

#include <cstring>
#include <mutex>
#include <random>

namespace JRX {

const JRXEID JRXEID::EID_INVALID;

namespace {

bool isDashPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

// Written into a buffer and made a string once: identifiers are turned into text for every
// environment a record names.
std::string JRXGUIDBase::toString() const {
  char out[36];
  char* p = out;
  for (int nibble = 0; nibble < 32; ++nibble) {
    if (nibble == 8 || nibble == 12 || nibble == 16 || nibble == 20) *p++ = '-';
    uint64_t half = nibble < 16 ? first_ : second_;
    int shift = 60 - 4 * (nibble % 16);
    *p++ = ASHexDigit(half >> shift);
  }
  return std::string(out, sizeof out);
}

int JRXGUIDBase::fromString(const char* text) {
  if (!text) return -1;
  size_t n = std::strlen(text);
  if (n == 38) {
    if (text[0] != '{' || text[37] != '}') return -1;
    ++text;
    n = 36;
  }
  if (n != 36) return -1;
  uint64_t halves[2] = {0, 0};
  int nibble = 0;
  for (size_t i = 0; i < 36; ++i) {
    if (isDashPosition(i)) {
      if (text[i] != '-') return -1;
      continue;
    }
    int v = ASHexValue(text[i]);
    if (v < 0) return -1;
    uint64_t& h = halves[nibble / 16];
    h = (h << 4) | static_cast<uint64_t>(v);
    ++nibble;
  }
  first_ = halves[0];
  second_ = halves[1];
  return 0;
}

JRXGUID JRXGUID::generate() {
  // One engine per process, seeded from the system's entropy source; identifiers must not
  // repeat across processes that start at the same moment.
  static std::mutex m;
  static std::mt19937_64 engine = [] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }();
  uint64_t a, b;
  {
    std::lock_guard<std::mutex> lock(m);
    a = engine();
    b = engine();
  }
  a = (a & ~0xf000ULL) | 0x4000ULL;                   // version 4
  b = (b & 0x3fffffffffffffffULL) | 0x8000000000000000ULL;  // RFC variant
  return JRXGUID(static_cast<long long>(a), static_cast<long long>(b));
}

}  // namespace JRX
