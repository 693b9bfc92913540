// The escape that carries texts of any bytes through JSON strings (JsonRecords.h).
#include <boost/locale/utf.hpp>
#include <string_view>

#include "ASHex.h"
#include "JsonRecords.h"

namespace jrxlog {

namespace {

// U+FDD0, a noncharacter (never interchanged as text), starts every escape.
const std::string kEscape = "\xEF\xB7\x90";

// The length of the well-formed UTF-8 sequence at `i` (RFC 3629, as the JSON writer checks
// it), or 0.
size_t utf8Length(const std::string& s, size_t i) {
  namespace utf = boost::locale::utf;
  auto at = s.begin() + static_cast<long>(i);
  const utf::code_point c = utf::utf_traits<char>::decode(at, s.end());
  return c == utf::illegal || c == utf::incomplete ? 0 : static_cast<size_t>(at - s.begin()) - i;
}

bool startsEscape(const std::string& s, size_t i) { return s.compare(i, 3, kEscape) == 0; }

}  // namespace

std::string textToJson(const std::string& text) {
  bool plain = true;
  for (size_t i = 0, n = 1; i < text.size() && plain; i += n) {
    n = utf8Length(text, i);
    plain = n != 0 && !startsEscape(text, i);
  }
  if (plain) return text;
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8Length(text, i);
    if (n == 0) {
      out += kEscape;
      ASAppendHex(out, &text[i], 1);
      i += 1;
    } else {
      // The escape's own character stands for itself doubled.
      if (startsEscape(text, i)) out += kEscape;
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string textFromJson(const std::string& text) {
  size_t at = text.find(kEscape);
  if (at == std::string::npos) return text;
  std::string out(text, 0, at);
  while (at < text.size()) {
    if (!startsEscape(text, at)) {
      out += text[at++];
      continue;
    }
    const size_t next = at + 3;
    const auto lowerHex = [&](size_t i) {
      static const std::string_view digits = "0123456789abcdef";
      return i < text.size() && digits.find(text[i]) != std::string_view::npos;
    };
    if (startsEscape(text, next)) {
      out += kEscape;
      at = next + 3;
    } else if (lowerHex(next) && lowerHex(next + 1)) {
      out += static_cast<char>(ASHexValue(text[next]) * 16 + ASHexValue(text[next + 1]));
      at = next + 2;
    } else {
      // Not written by an escape: kept as it stands.
      out += kEscape;
      at = next;
    }
  }
  return out;
}

}  // namespace jrxlog
