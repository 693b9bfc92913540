// Hex text of bytes and numbers, and hex digits read back: the one home of what the log's
// binary values (SIDs, GUIDs, digests, texts that are not UTF-8) and URL escapes need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The lower-case digit of the low four bits of `v`.
inline char ASHexDigit(uint64_t v) { return "0123456789abcdef"[v & 0xf]; }

// The value of a hex digit of either case, or -1 for any other character.
inline int ASHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two lower-case digits a byte, appended to `out`.
inline void ASAppendHex(std::string& out, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  out.reserve(out.size() + 2 * size);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(ASHexDigit(p[i] >> 4));
    out.push_back(ASHexDigit(p[i]));
  }
}

inline std::string ASHex(const std::string& bytes) {
  std::string out;
  ASAppendHex(out, bytes.data(), bytes.size());
  return out;
}

// The `digits` lowest hex digits of `v`, the most significant first.
inline std::string ASHexNumber(uint64_t v, int digits) {
  std::string s(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = ASHexDigit(v);
  return s;
}
