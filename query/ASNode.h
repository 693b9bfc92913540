// The condition tree behind ASComparison. A comparison holds its operands (ASTerm) in its
// own node.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ASDriver.h"
#include "ASQuery.h"

struct ASNode {
  enum Kind { Compare, IsNull, In, NotIn, And, Or, Not, Join, Exists };
  Kind kind = Compare;

  // Compare: `a op b`; IsNull / In / NotIn: `a` (a column).
  const char* op = "";
  ASTerm a, b;
  // In / NotIn / Join: embedded SQL (with its fragment); null for the others.
  std::shared_ptr<const Str> sql;
  // And / Or: l, r; Not: l.
  std::shared_ptr<const ASNode> l, r;
  // Join: the pair of tables; `right` is the LEFT JOINed one.
  ASDomain* left = nullptr;
  ASDomain* right = nullptr;
  // Exists: a select rendered with the enclosing statement, so that it gets its plan hints
  // in the statement's dialect; `outer` are the enclosing tables.
  std::shared_ptr<const ASFilter> select;
  std::vector<const ASDomain*> outer;
};

class ASSqlWriter;
void ASRenderCondition(const ASNode& n, ASSqlWriter& w);
// The type of the column a term names (AS_VSTR for others).
ASType ASTermType(const ASTerm& t);
