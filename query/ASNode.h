// The condition tree behind ASComparison and ASOperand.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ASDriver.h"
#include "ASQuery.h"

struct ASNode {
  enum Kind { Attr, Value, Subselect, Compare, IsNull, In, NotIn, And, Or, Not, Join, Exists };
  Kind kind = Value;

  // Attr: a column of a live table object.
  ASDomain* domain = nullptr;
  size_t column = 0;
  // Value
  ASBindValue value;
  // Subselect / In / NotIn / Join: embedded SQL (with its fragment).
  Str sql;
  // Compare: `a op b`; IsNull / In / NotIn: `a`; And / Or: a, b; Not: a.
  std::string op;
  std::shared_ptr<const ASNode> a, b;
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
