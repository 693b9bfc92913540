#include "ASRowDigest.h"
#include "ASHex.h"

#include <cstring>

namespace {

uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

uint64_t finish(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

// Words are read little-endian whatever the machine, so a checksum means the same everywhere.
uint64_t load(const unsigned char* p, size_t n) {
  uint64_t w = 0;
  for (size_t i = 0; i < n; ++i) w |= static_cast<uint64_t>(p[i]) << (8 * i);
  return w;
}

enum : uint64_t { kNull = 1, kInteger = 2, kReal = 3, kBytes = 4 };

}  // namespace

// Two lanes of different multipliers and rotations over the same words: each a multiply-
// rotate chain that every later word depends on, so the order of values counts.
void ASRowDigest::Word(uint64_t w) {
  a_ = rotl(a_ ^ (w * 0x87c37b91114253d5ull), 31) * 0x4cf5ad432745937full + 0x52dce729;
  b_ = rotl(b_ ^ (w * 0x9e3779b97f4a7c15ull), 27) * 0xc2b2ae3d27d4eb4full + 0x38495ab5;
  ++words_;
}

void ASRowDigest::Bytes(const std::string& b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(b.data());
  size_t n = b.size();
  Word(kBytes | static_cast<uint64_t>(n) << 8);
  for (; n >= 8; p += 8, n -= 8) Word(load(p, 8));
  if (n) Word(load(p, n));
}

void ASRowDigest::Add(const ASBindValue& v) {
  switch (v.kind) {
    case ASBindValue::Null:
      Word(kNull);
      break;
    case ASBindValue::Integer:
      Word(kInteger);
      Word(static_cast<uint64_t>(v.i));
      break;
    case ASBindValue::Real: {
      uint64_t bits;
      std::memcpy(&bits, &v.d, sizeof bits);
      Word(kReal);
      Word(bits);
      break;
    }
    case ASBindValue::Text:
    case ASBindValue::Blob:
      Bytes(v.Bytes());
      break;
  }
}

std::string ASRowDigest::Hex() const {
  const uint64_t hi = finish(a_ ^ words_), lo = finish(b_ ^ rotl(words_, 32) ^ hi);
  return ASHexNumber(hi, 16) + ASHexNumber(lo, 16);
}
