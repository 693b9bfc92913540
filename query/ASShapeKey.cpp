#include "ASShapeKey.h"

#include <algorithm>
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
  Tag(d.LeftJoined() ? ASKeyTag::LeftJoinedTable : ASKeyTag::Table);
}

void ASShapeKey::Fragment(const Str& sql) {
  const auto& f = sql.Fragment();
  if (!f) {
    Tag(ASKeyTag::RawSql);
    Name(sql.str());
    return;
  }
  // The number of alias tokens, then the text with each token replaced by the table's
  // number here. Not the text's length: that depends on the serials of the tables, and the
  // same shape would come to a new key whenever a serial gains a digit.
  const std::string& text = f->sql;
  Tag(ASKeyTag::Fragment);
  Number(static_cast<unsigned long long>(std::count(text.begin(), text.end(), kASAliasOpen)));
  size_t i = 0;
  for (;;) {
    const size_t open = text.find(kASAliasOpen, i);
    if (open == std::string::npos) {
      Name(text.data() + i, text.size() - i);
      break;
    }
    Name(text.data() + i, open - i);
    unsigned long serial = 0;
    size_t p = open + 1;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9')
      serial = serial * 10 + static_cast<unsigned long>(text[p++] - '0');
    Seen* seen = nullptr;
    Tag(ASKeyTag::Alias);
    Number(AliasOf(serial, seen));
    i = std::min(p + 1, text.size());  // past the token's end
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
