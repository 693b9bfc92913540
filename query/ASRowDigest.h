// The checksum of ASTableDigest: a 128-bit hash over a sequence of values, each taken as what
// it is (NULL, integer, real, bytes with their length) so that no two sequences of values run
// together into the same input, and a text and a blob of the same bytes hash alike (MariaDB
// hands both over as bytes).
#pragma once

#include <cstdint>
#include <string>

#include "ASDriver.h"

class ASRowDigest {
 public:
  void Add(const ASBindValue& v);
  std::string Hex() const;  // 32 hexadecimal digits

 private:
  void Word(uint64_t w);
  void Bytes(const std::string& b);
  uint64_t a_ = 0x6a09e667f3bcc908ull;
  uint64_t b_ = 0xbb67ae8584caa73bull;
  uint64_t words_ = 0;
};
