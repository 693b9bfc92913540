// Texts made of the pieces that trip text handling up: braces of the display templates, NUL,
// quoting and pattern characters of SQL, bytes that are not UTF-8 (a lone lead byte, a
// surrogate's encoding, an overlong form), the escape the listings write for such bytes
// (U+FDD0 and two hex digits), emoji and a right-to-left mark.
#pragma once

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace jrxtest {

inline const std::vector<std::string> kHostilePieces = {
    "{", "}", "{{", "}}", "{id}", "{title}", std::string(1, '\0'), "'", "\"", "\\", "%", "_", "--",
    "; DROP TABLE op_log; --", "\xff\xfe", "\xc3", "\xc3\xa9", "\xed\xa0\x80", "\xc0\xaf",
    "\xef\xb7\x90", "\xef\xb7\x90" "41", "\xf0\x9f\x98\x80", "\xe2\x80\x8f", " ", "a", "Z", "\n"};

// Up to `most` pieces at random, after `prefix`.
inline std::string hostileText(std::mt19937& rng, size_t most, std::string prefix = "") {
  for (size_t i = rng() % (most + 1); i > 0; --i)
    prefix += kHostilePieces[rng() % kHostilePieces.size()];
  return prefix;
}

// A seed for random tests: JRX_TEST_SEED replays a failure.
inline unsigned randomSeed() {
  const char* given = std::getenv("JRX_TEST_SEED");
  return given ? static_cast<unsigned>(std::stoul(given)) : std::random_device()();
}

}  // namespace jrxtest
