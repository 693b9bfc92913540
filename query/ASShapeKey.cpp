#include "ASShapeKey.h"

#include <cstring>

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

void ASShapeKey::Clear() {
  bytes_.clear();
  slots_.clear();
  tables_.clear();
}

void ASShapeKey::Number(unsigned long long n) {
  do {
    bytes_ += static_cast<char>((n & 0x7f) | (n > 0x7f ? 0x80 : 0));
    n >>= 7;
  } while (n);
}

void ASShapeKey::Name(const std::string& s) {
  Number(s.size());
  bytes_ += s;
}

void ASShapeKey::Name(const char* s) {
  const size_t n = std::strlen(s);
  Number(n);
  bytes_.append(s, n);
}

unsigned ASShapeKey::AliasOf(unsigned long serial, Seen*& seen) {
  for (size_t i = 0; i < tables_.size(); ++i)
    if (tables_[i].serial == serial) {
      seen = &tables_[i];
      return static_cast<unsigned>(i);
    }
  tables_.push_back({serial, false});
  seen = &tables_.back();
  return static_cast<unsigned>(tables_.size() - 1);
}

void ASShapeKey::Table(const ASDomain& d) {
  Seen* seen = nullptr;
  Number(AliasOf(d.Serial(), seen));
  if (seen->described) return;
  seen->described = true;
  // The table's name, and what selects take from its key and its LEFT JOIN columns.
  Name(d.TableName());
  bool leftJoined = false;
  size_t autoinc = d.Size();
  for (size_t i = 0; i < d.Size(); ++i) {
    const ASAttribute& a = d.Attribute(i);
    leftJoined = leftJoined || a.Key() == AS_KEY_LEFT_JOIN;
    if (autoinc == d.Size() && (a.Flags() & AS_COL_AUTOINC)) autoinc = i;
  }
  Tag(leftJoined ? 'L' : 'T');
  Name(autoinc < d.Size() ? d.Attribute(autoinc).Name() : std::string());
  Number(d.PrimaryKey().size());
  for (size_t c : d.PrimaryKey()) Name(d.Attribute(c).Name());
}

void ASShapeKey::Column(const ASDomain& d, size_t column) {
  Table(d);
  const ASAttribute& a = d.Attribute(column);
  Name(a.Name());
  Tag(static_cast<char>(a.Type()));
  Tag(static_cast<char>(a.Key()));
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
    bytes_.append(text, i, open - i);
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

void ASKeyTerm(const ASTerm& t, ASType type, ASShapeKey& k) {
  switch (t.kind) {
    case ASTerm::Column:
      k.Tag('a');
      k.Column(*t.domain, t.column);
      break;
    case ASTerm::Value: {
      k.Tag('v');
      ASBindSlot s;
      s.how = ASBindSlot::Coerced;
      s.type = type;
      s.value = &t.value;
      k.Bind(s);
      break;
    }
    case ASTerm::Subselect:
      k.Tag('s');
      k.Fragment(t.sql);
      break;
  }
}

void ASKeyCondition(const ASNode& n, ASShapeKey& k) {
  switch (n.kind) {
    case ASNode::Compare:
      k.Tag('c');
      k.Name(n.op);
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
      k.Fragment(n.sql);
      break;
    case ASNode::And:
    case ASNode::Or:
      k.Tag(n.kind == ASNode::And ? '&' : '|');
      ASKeyCondition(*n.l, k);
      ASKeyCondition(*n.r, k);
      break;
    case ASNode::Not:
      k.Tag('!');
      ASKeyCondition(*n.l, k);
      break;
    case ASNode::Join:
      k.Tag('j');
      k.Table(*n.left);
      k.Table(*n.right);
      k.Fragment(n.sql);
      break;
  }
}
