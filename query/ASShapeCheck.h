// For the library's tests: checking that a statement's shape key and its SQL text agree, in
// any build. Exported, as tests link the library as it ships.
#pragma once

#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace ASDetail {

// With `on`, every statement of `s` found by its shape key is written out again and compared
// with the statement prepared for that key; a difference throws AException. Debug builds
// always check.
void CheckShapes(ASSession& s, bool on);

// The shapes `s` has met: each key with its SQL text.
struct ShapeText {
  std::string key;
  std::string sql;
};
std::vector<ShapeText> ShapeTexts(const ASSession& s);

}  // namespace ASDetail

JRX_PUBLIC_END
