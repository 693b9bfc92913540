// The condition tree behind ASComparison. A comparison holds its operands (ASTerm) in its
// own node.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ASDriver.h"
#include "ASKeyTag.h"
#include "ASQuery.h"

struct ASNode : ASDetail::CountedNode {
  enum Kind { Compare, IsNull, In, NotIn, And, Or, Not, Join, Exists };
  Kind kind = Compare;

  // Compare: `a op b`; IsNull / In / NotIn: `a` (a column).
  ASKeyTag op = ASKeyTag::Equal;
  ASTerm a, b;
  // And / Or: l, r; Not: l.
  ASDetail::NodeRef l, r;

  // What only In / NotIn / Join / Exists carry, apart: comparisons are made and dropped for
  // every statement.
  struct Embedded {
    // In / NotIn / Join: embedded SQL (with its fragment).
    std::shared_ptr<const Str> sql;
    // Join: the pair of tables; `right` is the LEFT JOINed one.
    ASDomain* left = nullptr;
    ASDomain* right = nullptr;
    // Exists: a select rendered with the enclosing statement, so that it gets its plan
    // hints in the statement's dialect; `outer` are the enclosing tables.
    std::shared_ptr<const ASFilter> select;
    std::vector<const ASDomain*> outer;
  };
  std::unique_ptr<Embedded> more;  // null for the others
  Embedded& More() {
    if (!more) more.reset(new Embedded);
    return *more;
  }
};

class ASShapeKey;
class ASSqlWriter;
// The shape key of a condition (and the slots of its values), and its SQL text.
void ASKeyCondition(const ASNode& n, ASShapeKey& k);
void ASRenderCondition(const ASNode& n, ASSqlWriter& w);
// A new node of `kind` with its first handle; the node is the caller's to fill in.
ASDetail::NodeRef ASMakeNode(ASNode::Kind kind, ASNode*& node);
// The node behind a handle (every counted node is an ASNode).
inline const ASNode& ASNodeOf(const ASDetail::NodeRef& r) {
  return static_cast<const ASNode&>(*r);
}
inline const ASNode* ASNodePtr(const ASDetail::NodeRef& r) {
  return static_cast<const ASNode*>(r.get());
}
// The type of the column a term names (AS_VSTR for others).
inline ASType ASTermType(const ASTerm& t) {
  return t.kind == ASTerm::Column ? t.domain->Attribute(t.column).Type() : AS_VSTR;
}
