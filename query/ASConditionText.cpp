// A condition's shape key and its SQL text, kind by kind: the two must change together, so
// each kind's key writer stands beside its SQL writer. A key holds exactly what the text
// depends on (tests/query/ShapeKeyTest.cpp checks that on statements of every kind).
#include "ASNode.h"
#include "ASSelect.h"
#include "ASShapeKey.h"
#include "ASSqlText.h"

namespace {

// An operand: a column, a bound value (coerced for a column of `type`), or a sub-select. Its
// key writer is ASKeyTerm (inline in ASShapeKey.h: two of them for every comparison).
void sqlTerm(const ASTerm& t, ASType type, ASSqlWriter& w) {
  switch (t.kind) {
    case ASTerm::Column:
      w.Column(*t.domain, t.column);
      break;
    case ASTerm::Value:
      w.Value(ASCoerce(t.value, type), &t.value);
      break;
    case ASTerm::Bound:
      w.Value(ASBindOf(*t.bound, type), t.bound);
      break;
    case ASTerm::Subselect:
      w << "(";
      w.Embed(*t.sql);
      w << ")";
      break;
  }
}

// Compare: `a op b`, b bound for a's column.
void keyCompare(const ASNode& n, ASShapeKey& k) {
  k.Tag(n.op);
  ASKeyTerm(n.a, AS_VSTR, k);
  ASKeyTerm(n.b, ASTermType(n.a), k);
}
void sqlCompare(const ASNode& n, ASSqlWriter& w) {
  sqlTerm(n.a, AS_VSTR, w);
  w << ASKeySql(n.op);
  sqlTerm(n.b, ASTermType(n.a), w);
}

// IsNull: `a IS NULL`.
void keyIsNull(const ASNode& n, ASShapeKey& k) {
  k.Tag(ASKeyTag::IsNull);
  ASKeyTerm(n.a, AS_VSTR, k);
}
void sqlIsNull(const ASNode& n, ASSqlWriter& w) {
  sqlTerm(n.a, AS_VSTR, w);
  w << ASKeySql(ASKeyTag::IsNull);
}

// In / NotIn: `a [NOT] IN (sub-select)`.
ASKeyTag membershipTag(const ASNode& n) {
  return n.kind == ASNode::In ? ASKeyTag::In : ASKeyTag::NotIn;
}
void keyMembership(const ASNode& n, ASShapeKey& k) {
  k.Tag(membershipTag(n));
  ASKeyTerm(n.a, AS_VSTR, k);
  k.Fragment(*n.more->sql);
}
void sqlMembership(const ASNode& n, ASSqlWriter& w) {
  sqlTerm(n.a, AS_VSTR, w);
  w << ASKeySql(membershipTag(n));
  w.Embed(*n.more->sql);
  w << ")";
}

// And / Or: `(l op r)`.
ASKeyTag junctionTag(const ASNode& n) { return n.kind == ASNode::And ? ASKeyTag::And : ASKeyTag::Or; }
void keyJunction(const ASNode& n, ASShapeKey& k) {
  k.Tag(junctionTag(n));
  ASKeyCondition(ASNodeOf(n.l), k);
  ASKeyCondition(ASNodeOf(n.r), k);
}
void sqlJunction(const ASNode& n, ASSqlWriter& w) {
  w << "(";
  ASRenderCondition(ASNodeOf(n.l), w);
  w << ASKeySql(junctionTag(n));
  ASRenderCondition(ASNodeOf(n.r), w);
  w << ")";
}

// Not: `NOT (l)`.
void keyNot(const ASNode& n, ASShapeKey& k) {
  k.Tag(ASKeyTag::Not);
  ASKeyCondition(ASNodeOf(n.l), k);
}
void sqlNot(const ASNode& n, ASSqlWriter& w) {
  w << ASKeySql(ASKeyTag::Not);
  ASRenderCondition(ASNodeOf(n.l), w);
  w << ")";
}

// Join: the ON text joining `right` to `left`, where the select places it; as a condition,
// `(text)`.
void keyJoin(const ASNode& n, ASShapeKey& k) {
  k.Tag(ASKeyTag::JoinOn);
  k.Table(*n.more->left);
  k.Table(*n.more->right);
  k.Fragment(*n.more->sql);
}
void sqlJoin(const ASNode& n, ASSqlWriter& w) {
  w << "(";
  w.Embed(*n.more->sql);
  w << ")";
}

// Exists: a select of its own, with its plan hints and limit, tied to the enclosing tables.
// Asked as a truth value, not as a bare conjunct: MariaDB would turn the latter into a
// semi-join, which it may answer by reading the whole sub-select once, not by a probe.
void keyExists(const ASNode& n, ASShapeKey& k) {
  k.Tag(ASKeyTag::Exists);
  k.Number(n.more->outer.size());
  for (const ASDomain* d : n.more->outer) k.Table(*d);
  const ASFilter& f = *n.more->select;
  ASKeySelect(f, k);
  k.Tag(f.HasLimit() ? ASKeyTag::Limit : ASKeyTag::None);
  if (f.HasLimit()) {
    k.Number(f.LimitCount());
    k.Number(f.LimitOffset());
  }
}
void sqlExists(const ASNode& n, ASSqlWriter& w) {
  w << ASKeySql(ASKeyTag::Exists);
  ASRenderEmbedded(*n.more->select, n.more->outer, w);
  w << ")) IS TRUE";
}

}  // namespace

void ASKeyCondition(const ASNode& n, ASShapeKey& k) {
  switch (n.kind) {
    case ASNode::Compare: return keyCompare(n, k);
    case ASNode::IsNull: return keyIsNull(n, k);
    case ASNode::In:
    case ASNode::NotIn: return keyMembership(n, k);
    case ASNode::And:
    case ASNode::Or: return keyJunction(n, k);
    case ASNode::Not: return keyNot(n, k);
    case ASNode::Join: return keyJoin(n, k);
    case ASNode::Exists: return keyExists(n, k);
  }
}

void ASRenderCondition(const ASNode& n, ASSqlWriter& w) {
  switch (n.kind) {
    case ASNode::Compare: return sqlCompare(n, w);
    case ASNode::IsNull: return sqlIsNull(n, w);
    case ASNode::In:
    case ASNode::NotIn: return sqlMembership(n, w);
    case ASNode::And:
    case ASNode::Or: return sqlJunction(n, w);
    case ASNode::Not: return sqlNot(n, w);
    case ASNode::Join: return sqlJoin(n, w);
    case ASNode::Exists: return sqlExists(n, w);
  }
}
