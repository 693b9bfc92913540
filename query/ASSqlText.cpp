#include "ASSqlText.h"

namespace {
const char kAliasOpen = '\x01';
const char kAliasClose = '\x02';
}  // namespace

void ASSqlWriter::Alias(const ASDomain& d) {
  sql += kAliasOpen;
  sql += std::to_string(d.Serial());
  sql += kAliasClose;
}

void ASSqlWriter::Column(const ASDomain& d, size_t column) {
  Alias(d);
  sql += '.';
  sql += d.Attribute(column).Name();
}

void ASSqlWriter::Value(ASBindValue v) {
  sql += '?';
  values.push_back(std::move(v));
}

void ASSqlWriter::Embed(const Str& s) {
  if (const auto& f = s.Fragment()) {
    sql += f->sql;
    values.insert(values.end(), f->values.begin(), f->values.end());
  } else {
    sql += s.str();
  }
}

std::string ASResolveAliases(const std::string& tokenised,
                             const std::map<unsigned long, std::string>* fixed) {
  // Few tables per statement: a linear list beats a map here, and this runs per statement.
  std::vector<unsigned long> seen;
  std::string out;
  out.reserve(tokenised.size());
  const size_t n = tokenised.size();
  size_t i = 0;
  while (i < n) {
    size_t open = tokenised.find(kAliasOpen, i);
    if (open == std::string::npos) {
      out.append(tokenised, i, std::string::npos);
      break;
    }
    out.append(tokenised, i, open - i);
    unsigned long serial = 0;
    size_t p = open + 1;
    while (p < n && tokenised[p] >= '0' && tokenised[p] <= '9')
      serial = serial * 10 + static_cast<unsigned long>(tokenised[p++] - '0');
    if (p >= n || tokenised[p] != kAliasClose) throw AException("malformed SQL fragment");
    i = p + 1;
    if (fixed) {
      auto f = fixed->find(serial);
      if (f != fixed->end()) {
        out += f->second;
        continue;
      }
    }
    size_t k = 0;
    while (k < seen.size() && seen[k] != serial) ++k;
    if (k == seen.size()) seen.push_back(serial);
    out += 't';
    out += std::to_string(k + 1);
  }
  return out;
}

ASBindValue ASCoerce(const ASBindValue& v, ASType type) {
  if (v.kind == ASBindValue::Null) return v;
  switch (type) {
    case AS_INT:
    case AS_INT64:
    case AS_TIME:
      if (v.kind == ASBindValue::Real) return ASBindValue::MakeInt(static_cast<long long>(v.d));
      return v;
    case AS_DOUBLE:
      if (v.kind == ASBindValue::Integer) return ASBindValue::MakeReal(static_cast<double>(v.i));
      return v;
    case AS_VSTR:
      if (v.kind == ASBindValue::Integer) return ASBindValue::MakeText(std::to_string(v.i));
      if (v.kind == ASBindValue::Real) return ASBindValue::MakeText(std::to_string(v.d));
      if (v.kind == ASBindValue::Blob) return ASBindValue::MakeText(v.Bytes());
      return v;
    case AS_BINSTR:
    case AS_GUID:
    case AS_BLOB:
      if (v.kind == ASBindValue::Integer) return ASBindValue::MakeBlob(std::to_string(v.i));
      if (v.kind == ASBindValue::Real) return ASBindValue::MakeBlob(std::to_string(v.d));
      if (v.kind == ASBindValue::Text) return ASBindValue::MakeBlob(v.Bytes());
      return v;
  }
  return v;
}

ASBindValue ASBindOf(const ASValue& v, ASType type) {
  if (v.IsNull()) return ASBindValue();
  ASBindValue b;
  switch (v.Type()) {
    case AS_INT:
    case AS_INT64:
    case AS_TIME:
      b = ASBindValue::MakeInt(v.AsInt64());
      break;
    case AS_DOUBLE:
      b = ASBindValue::MakeReal(v.AsDouble());
      break;
    case AS_VSTR:
      b = ASBindValue::MakeText(v.Bytes());
      break;
    default:
      b = ASBindValue::MakeBlob(v.Bytes());
      break;
  }
  b = ASCoerce(b, type);
  // 32-bit columns keep the low 32 bits of what they are given.
  if (b.kind == ASBindValue::Integer && (type == AS_INT || type == AS_TIME))
    b.i = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(b.i)));
  return b;
}

ASBindValue ASBindRefOf(const ASValue& v, ASType type) {
  const auto bytesType = [](ASType t) {
    return t == AS_VSTR || t == AS_BINSTR || t == AS_GUID || t == AS_BLOB;
  };
  if (v.IsNull() || !bytesType(v.Type())) return ASBindOf(v, type);
  // The kind ASBindOf gives, without the copy.
  ASBindValue b;
  if (bytesType(type))
    b.kind = type == AS_VSTR ? ASBindValue::Text : ASBindValue::Blob;
  else
    b.kind = v.Type() == AS_VSTR ? ASBindValue::Text : ASBindValue::Blob;
  b.ref = &v.Bytes();
  return b;
}

Str ASMakeQueryStr(ASSqlWriter&& w) {
  auto f = std::make_shared<ASSqlFragment>();
  f->sql = std::move(w.sql);
  f->values = std::move(w.values);
  std::string text = ASResolveAliases(f->sql);
  return Str(std::move(text), std::move(f));
}
