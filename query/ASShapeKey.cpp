#include "ASShapeKey.h"

#include <typeinfo>

#include "ASNode.h"
#include "ASSqlText.h"

void ASBindSlot::BindInto(ASBindValue& out) const {
  switch (how) {
    case Coerced:
      ASCoerceInto(*value, type, out, true);
      break;
    case Assigned:
      ASCoerceInto(*value, type, out, true);
      ASWrapInto(type, out);
      break;
    case AsIs:
      out.kind = value->kind;
      out.i = value->i;
      out.d = value->d;
      out.ref = &value->Bytes();
      break;
    case Member:
      ASBindRefInto(*member, type, out);
      break;
  }
}

// Objects of one table class have the same columns, types, flags and primary key (the
// class declares them), so the class stands for all of them here; the name is the object's.
// Debug builds check that on every statement found by its key (ASSessionAccess::Statement).
void ASShapeKey::Describe(const ASDomain& d, Seen& seen) {
  seen.described = true;
  const std::type_info* type = &typeid(d);
  Room(sizeof type);
  std::memcpy(at_, &type, sizeof type);
  at_ += sizeof type;
  Name(d.TableLiteral(), d.TableSize());
  Tag(d.LeftJoined() ? 'L' : 'T');
}

void ASShapeKey::Fragment(const Str& sql) {
  const auto& f = sql.Fragment();
  if (!f) {
    Tag('r');
    Name(sql.str());
    return;
  }
  // The text's length, then the text with each alias token replaced by the table's number
  // here.
  const std::string& text = f->sql;
  Tag('f');
  Number(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t open = text.find(kASAliasOpen, i);
    if (open == std::string::npos) open = text.size();
    Name(text.data() + i, open - i);
    if (open == text.size()) break;
    unsigned long serial = 0;
    size_t p = open + 1;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9')
      serial = serial * 10 + static_cast<unsigned long>(text[p++] - '0');
    Seen* seen = nullptr;
    Tag(kASAliasOpen);
    Number(AliasOf(serial, seen));
    i = p + 1;
  }
  for (const ASBindValue& v : f->values) {
    ASBindSlot s;
    s.how = ASBindSlot::AsIs;
    s.value = &v;
    Bind(s);
  }
}

long ASShapeKey::SlotOf(const void* source) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].value == source || slots_[i].member == source) return static_cast<long>(i);
  return -1;
}

void ASKeyCondition(const ASNode& n, ASShapeKey& k) {
  switch (n.kind) {
    case ASNode::Compare:
      k.Tag('c');
      k.Tag(n.op);
      ASKeyTerm(n.a, AS_VSTR, k);
      ASKeyTerm(n.b, ASTermType(n.a), k);
      break;
    case ASNode::IsNull:
      k.Tag('n');
      ASKeyTerm(n.a, AS_VSTR, k);
      break;
    case ASNode::In:
    case ASNode::NotIn:
      k.Tag(n.kind == ASNode::In ? 'i' : 'o');
      ASKeyTerm(n.a, AS_VSTR, k);
      k.Fragment(*n.more->sql);
      break;
    case ASNode::And:
    case ASNode::Or:
      k.Tag(n.kind == ASNode::And ? '&' : '|');
      ASKeyCondition(ASNodeOf(n.l), k);
      ASKeyCondition(ASNodeOf(n.r), k);
      break;
    case ASNode::Not:
      k.Tag('!');
      ASKeyCondition(ASNodeOf(n.l), k);
      break;
    case ASNode::Join:
      k.Tag('j');
      k.Table(*n.more->left);
      k.Table(*n.more->right);
      k.Fragment(*n.more->sql);
      break;
    case ASNode::Exists: {
      k.Tag('e');
      k.Number(n.more->outer.size());
      for (const ASDomain* d : n.more->outer) k.Table(*d);
      const ASFilter& f = *n.more->select;
      ASKeySelect(f, k);
      k.Tag(f.HasLimit() ? 'l' : '-');
      if (f.HasLimit()) {
        k.Number(f.LimitCount());
        k.Number(f.LimitOffset());
      }
      break;
    }
  }
}

// What the text of a select depends on, less what a cursor adds (see ASShapeKey).
void ASKeySelect(const ASFilter& f, ASShapeKey& k) {
  k.Tag(f.Projection().IsDistinct() ? 'D' : 'S');
  k.Number(f.Projection().Attributes().size());
  for (const ASAttribute* a : f.Projection().Attributes()) k.Column(*a->Domain(), a->Index());
  if (f.Condition().IsEmpty()) {
    k.Tag('-');
  } else {
    k.Tag('w');
    ASKeyCondition(ASNodeOf(f.Condition().Node()), k);
  }
  k.Number(f.Orders().size());
  for (const ASOrder& o : f.Orders()) {
    k.Column(*o.Attribute()->Domain(), o.Attribute()->Index());
    k.Tag(o.Descending() ? 'd' : 'a');
  }
  k.Number(f.IndexHints().size());
  for (const auto& h : f.IndexHints()) {
    k.Table(*h.first);
    k.Name(h.second);
  }
  k.Number(f.JoinSequence().size());
  for (const ASDomain* d : f.JoinSequence()) k.Table(*d);
  k.Tag(f.LocksRows() ? static_cast<char>(f.Lock()) : '-');
}

