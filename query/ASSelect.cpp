#include "ASSelect.h"

#include <algorithm>

namespace {

void addDomain(std::vector<ASDomain*>& seen, ASDomain* d) {
  if (d && std::find(seen.begin(), seen.end(), d) == seen.end()) seen.push_back(d);
}

void collect(const ASNode* n, std::vector<ASDomain*>& seen) {
  if (!n) return;
  if (n->kind == ASNode::Join) {
    addDomain(seen, n->more->left);
    addDomain(seen, n->more->right);
  }
  for (const ASTerm* t : {&n->a, &n->b})
    if (t->kind == ASTerm::Column) addDomain(seen, t->domain);
  collect(ASNodePtr(n->l), seen);
  collect(ASNodePtr(n->r), seen);
}

void conjuncts(const ASNode* n, std::vector<const ASNode*>& out) {
  if (!n) return;
  if (n->kind == ASNode::And) {
    conjuncts(ASNodePtr(n->l), out);
    conjuncts(ASNodePtr(n->r), out);
  } else {
    out.push_back(n);
  }
}

bool isJoinKeyOf(const ASTerm& t, const ASDomain* d) {
  return t.kind == ASTerm::Column && t.domain == d &&
         d->Attribute(t.column).Key() == AS_KEY_LEFT_JOIN;
}

// Does conjunct `c` belong to the ON clause of LEFT JOINed `d`?
bool joinsTo(const ASNode* c, const ASDomain* d) {
  if (c->kind == ASNode::Join) return c->more->right == d;
  if (c->kind != ASNode::Compare || c->op != ASKeyTag::Equal) return false;
  if (c->a.kind != ASTerm::Column || c->b.kind != ASTerm::Column) return false;
  return (isJoinKeyOf(c->a, d) && c->b.domain != d) || (isJoinKeyOf(c->b, d) && c->a.domain != d);
}

void renderConjunction(const std::vector<const ASNode*>& list, ASSqlWriter& w) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) w << " AND ";
    ASRenderCondition(*list[i], w);
  }
}

ASKeyTag lockTag(ASFilter::RowLock lock) {
  switch (lock) {
    case ASFilter::kLockUpdate: return ASKeyTag::ForUpdate;
    case ASFilter::kLockShare: return ASKeyTag::ForShare;
    case ASFilter::kLockSkipLocked: return ASKeyTag::ForUpdateSkipLocked;
    case ASFilter::kLockNone: break;
  }
  return ASKeyTag::None;
}

}  // namespace

ASSelectShape ASAnalyzeSelect(const ASFilter& f, const std::vector<const ASDomain*>& outer) {
  std::vector<ASDomain*> seen;
  for (const ASAttribute* a : f.Projection().Attributes()) addDomain(seen, a->Domain());
  collect(ASNodePtr(f.Condition().Node()), seen);
  for (const ASOrder& o : f.Orders()) addDomain(seen, o.Attribute()->Domain());
  for (const ASDomain* d : outer) seen.erase(std::remove(seen.begin(), seen.end(), d), seen.end());
  if (seen.empty()) throw AException("a select needs at least one projected column");

  ASSelectShape shape;
  for (ASDomain* d : seen) (d->LeftJoined() ? shape.outer : shape.inner).push_back(d);
  if (shape.inner.empty()) throw AException("a select cannot consist of LEFT JOINed tables only");
  shape.on.resize(shape.outer.size());

  std::vector<const ASNode*> all;
  conjuncts(ASNodePtr(f.Condition().Node()), all);
  for (const ASNode* c : all) {
    bool placed = false;
    for (size_t k = 0; k < shape.outer.size() && !placed; ++k) {
      if (joinsTo(c, shape.outer[k])) {
        shape.on[k].push_back(c);
        placed = true;
      }
    }
    if (!placed) shape.where.push_back(c);
  }
  return shape;
}

std::string ASColumnExpr(const ASDomain& d, size_t column) {
  ASSqlWriter w;
  w.Column(d, column);
  return w.sql;
}

std::string ASRowKeyExpr(const ASDomain& d, const std::string& column) {
  ASSqlWriter w;
  w.Alias(d);
  return w.sql + "." + column;
}

// What the text of a select depends on, less what a cursor adds (see ASShapeKey); beside
// ASRenderSelect, which writes it.
void ASKeySelect(const ASFilter& f, ASShapeKey& k) {
  k.Tag(f.Projection().IsDistinct() ? ASKeyTag::SelectDistinct : ASKeyTag::Select);
  k.Number(f.Projection().Attributes().size());
  for (const ASAttribute* a : f.Projection().Attributes()) k.Column(*a->Domain(), a->Index());
  if (f.Condition().IsEmpty()) {
    k.Tag(ASKeyTag::None);
  } else {
    k.Tag(ASKeyTag::Where);
    ASKeyCondition(ASNodeOf(f.Condition().Node()), k);
  }
  k.Number(f.Orders().size());
  for (const ASOrder& o : f.Orders()) {
    k.Column(*o.Attribute()->Domain(), o.Attribute()->Index());
    k.Tag(o.Descending() ? ASKeyTag::Descending : ASKeyTag::Ascending);
  }
  k.Number(f.IndexHints().size());
  for (const auto& h : f.IndexHints()) {
    k.Table(*h.first);
    k.Name(h.second);
  }
  k.Number(f.JoinSequence().size());
  for (const ASDomain* d : f.JoinSequence()) k.Table(*d);
  k.Tag(lockTag(f.Lock()));
}

void ASRenderSelect(const ASFilter& f, const ASSelectShape& shape, const ASSelectExtras& x,
                    ASSqlWriter& w) {
  if (x.dialect) w.dialect = x.dialect;
  w << ASKeySql(f.Projection().IsDistinct() ? ASKeyTag::SelectDistinct : ASKeyTag::Select);
  bool first = true;
  for (const ASAttribute* a : f.Projection().Attributes()) {
    if (!first) w << ", ";
    first = false;
    w.Column(*a->Domain(), a->Index());
  }
  for (const std::string& h : x.hidden) {
    if (!first) w << ", ";
    first = false;
    w << h;
  }
  if (first) throw AException("a select needs at least one projected column");

  // The tables the filter puts in a join order come first, in that order.
  std::vector<ASDomain*> inner;
  const bool ordered = x.dialect && !f.JoinSequence().empty();
  if (ordered) {
    for (const ASDomain* d : f.JoinSequence())
      for (ASDomain* s : shape.inner)
        if (s == d && std::find(inner.begin(), inner.end(), s) == inner.end()) inner.push_back(s);
  }
  for (ASDomain* s : shape.inner)
    if (std::find(inner.begin(), inner.end(), s) == inner.end()) inner.push_back(s);
  auto hint = [&](const ASDomain* d) {
    if (!x.dialect) return;
    for (const auto& h : f.IndexHints())
      if (h.first == d) w << x.dialect->IndexHint(*d, h.second);
  };

  w << " FROM ";
  for (size_t i = 0; i < inner.size(); ++i) {
    // JOIN rather than commas: a LEFT JOIN's ON may name any table before it.
    if (i) w << (ordered ? x.dialect->OrderedJoin() : " JOIN ");
    w << inner[i]->TableName() << " ";
    w.Alias(*inner[i]);
    hint(inner[i]);
  }
  for (size_t k = 0; k < shape.outer.size(); ++k) {
    w << " LEFT JOIN " << shape.outer[k]->TableName() << " ";
    w.Alias(*shape.outer[k]);
    hint(shape.outer[k]);
    w << " ON ";
    if (shape.on[k].empty())
      w << "1 = 1";
    else
      renderConjunction(shape.on[k], w);
  }

  if (!shape.where.empty() || x.where) {
    w << " WHERE ";
    renderConjunction(shape.where, w);
    if (x.where) {
      if (!shape.where.empty()) w << " AND ";
      w << "(" << x.where->sql << ")";
      w.values.insert(w.values.end(), x.where->values.begin(), x.where->values.end());
      w.sources.insert(w.sources.end(), x.where->sources.begin(), x.where->sources.end());
    }
  }

  if (x.order) {
    for (size_t i = 0; i < x.order->size(); ++i) {
      w << (i ? ", " : " ORDER BY ") << (*x.order)[i].expr;
      if ((*x.order)[i].desc) w << ASKeySql(ASKeyTag::Descending);
    }
  } else {
    for (size_t i = 0; i < f.Orders().size(); ++i) {
      const ASOrder& o = f.Orders()[i];
      w << (i ? ", " : " ORDER BY ");
      w.Column(*o.Attribute()->Domain(), o.Attribute()->Index());
      if (o.Descending()) w << ASKeySql(ASKeyTag::Descending);
    }
  }

  if (x.limit) {
    w << " LIMIT ";
    w.Value(ASBindValue::MakeInt(static_cast<long long>(x.count)), x.countSource);
    if (x.offset) {
      w << " OFFSET ";
      w.Value(ASBindValue::MakeInt(static_cast<long long>(x.offset)), x.offsetSource);
    }
  }
  if (x.dialect && f.LocksRows()) w << x.dialect->RowLockClause(f.Lock());
}

void ASRenderEmbedded(const ASFilter& f, const std::vector<const ASDomain*>& outer,
                      ASSqlWriter& w) {
  ASSelectExtras x;
  x.limit = f.HasLimit();
  x.count = f.LimitCount();
  x.offset = f.LimitOffset();
  x.countSource = x.offsetSource = &ASConstantSource;  // the key of the shape holds them
  x.dialect = w.dialect;
  ASRenderSelect(f, ASAnalyzeSelect(f, outer), x, w);
}
