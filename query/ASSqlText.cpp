#include "ASSqlText.h"

const char ASLimitCountSource = 0;
const char ASLimitOffsetSource = 0;
const char ASConstantSource = 0;

void ASSqlWriter::Alias(const ASDomain& d) {
  sql += kASAliasOpen;
  sql += std::to_string(d.Serial());
  sql += kASAliasClose;
}

void ASSqlWriter::Column(const ASDomain& d, size_t column) {
  Alias(d);
  sql += '.';
  sql += d.Attribute(column).Name();
}

void ASSqlWriter::Value(ASBindValue v, const void* source) {
  sql += '?';
  values.push_back(std::move(v));
  sources.push_back(source);
}

void ASSqlWriter::Embed(const Str& s) {
  if (const auto& f = s.Fragment()) {
    sql += f->sql;
    values.insert(values.end(), f->values.begin(), f->values.end());
    for (const ASBindValue& v : f->values) sources.push_back(&v);
  } else {
    sql += s.str();
  }
}

std::string ASResolveAliases(const std::string& tokenised, const ASDomain* bare) {
  // Few tables per statement: a linear list beats a map here, and this runs per statement.
  std::vector<unsigned long> seen;
  std::string out;
  out.reserve(tokenised.size());
  const size_t n = tokenised.size();
  size_t i = 0;
  while (i < n) {
    size_t open = tokenised.find(kASAliasOpen, i);
    if (open == std::string::npos) {
      out.append(tokenised, i, std::string::npos);
      break;
    }
    out.append(tokenised, i, open - i);
    unsigned long serial = 0;
    size_t p = open + 1;
    while (p < n && tokenised[p] >= '0' && tokenised[p] <= '9')
      serial = serial * 10 + static_cast<unsigned long>(tokenised[p++] - '0');
    if (p >= n || tokenised[p] != kASAliasClose) throw AException("malformed SQL fragment");
    i = p + 1;
    if (bare && bare->Serial() == serial) {
      out += bare->TableName();
      continue;
    }
    size_t k = 0;
    while (k < seen.size() && seen[k] != serial) ++k;
    if (k == seen.size()) seen.push_back(serial);
    out += 't';
    out += std::to_string(k + 1);
  }
  return out;
}

namespace {

bool bytesType(ASType t) { return t == AS_VSTR || t == AS_BINSTR || t == AS_GUID || t == AS_BLOB; }

void setOwned(ASBindValue& out, ASBindValue::Kind kind, std::string text) {
  out.kind = kind;
  out.bytes = std::move(text);
  out.ref = nullptr;
}

// A number (`i`, or `d` when `real`) as it is bound for a column of `type`.
void coerceNumber(long long i, double d, bool real, ASType type, ASBindValue& out) {
  out.i = i;
  out.d = d;
  out.ref = nullptr;
  if (type == AS_INT || type == AS_INT64 || type == AS_TIME) {
    out.kind = ASBindValue::Integer;
    if (real) out.i = static_cast<long long>(d);
  } else if (type == AS_DOUBLE) {
    out.kind = ASBindValue::Real;
    if (!real) out.d = static_cast<double>(i);
  } else {
    setOwned(out, type == AS_VSTR ? ASBindValue::Text : ASBindValue::Blob,
             real ? std::to_string(d) : std::to_string(i));
  }
}

}  // namespace

void ASCoerceInto(const ASBindValue& v, ASType type, ASBindValue& out, bool borrow) {
  if (v.kind == ASBindValue::Integer || v.kind == ASBindValue::Real)
    return coerceNumber(v.i, v.d, v.kind == ASBindValue::Real, type, out);
  out.i = v.i;
  out.d = v.d;
  ASBindValue::Kind kind = v.kind;
  if (v.kind != ASBindValue::Null && bytesType(type))
    kind = type == AS_VSTR ? ASBindValue::Text : ASBindValue::Blob;
  out.kind = kind;
  if (borrow) {
    out.ref = &v.Bytes();
  } else {
    out.ref = nullptr;
    out.bytes = v.Bytes();
  }
}

ASBindValue ASCoerce(const ASBindValue& v, ASType type) {
  ASBindValue out;
  ASCoerceInto(v, type, out, false);
  return out;
}

void ASWrapInto(ASType type, ASBindValue& v) {
  if (v.kind == ASBindValue::Integer && (type == AS_INT || type == AS_TIME))
    v.i = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(v.i)));
}

void ASBindRefInto(const ASValue& v, ASType type, ASBindValue& out) {
  out.ref = nullptr;
  out.i = 0;
  out.d = 0;
  if (v.IsNull()) {
    out.kind = ASBindValue::Null;
    return;
  }
  if (bytesType(v.Type())) {
    // The kind a copy would get, the bytes left where they are.
    if (bytesType(type))
      out.kind = type == AS_VSTR ? ASBindValue::Text : ASBindValue::Blob;
    else
      out.kind = v.Type() == AS_VSTR ? ASBindValue::Text : ASBindValue::Blob;
    out.ref = &v.Bytes();
    return;
  }
  const bool real = v.Type() == AS_DOUBLE;
  coerceNumber(real ? 0 : v.AsInt64(), real ? v.AsDouble() : 0, real, type, out);
  ASWrapInto(type, out);
}

ASBindValue ASBindOf(const ASValue& v, ASType type) {
  ASBindValue b;
  ASBindRefInto(v, type, b);
  if (b.ref) {
    b.bytes = *b.ref;
    b.ref = nullptr;
  }
  return b;
}

ASBindValue ASBindRefOf(const ASValue& v, ASType type) {
  ASBindValue b;
  ASBindRefInto(v, type, b);
  return b;
}

Str ASMakeQueryStr(ASSqlWriter&& w) {
  auto f = std::make_shared<ASSqlFragment>();
  f->sql = std::move(w.sql);
  f->values = std::move(w.values);
  std::string text = ASResolveAliases(f->sql);
  return Str(std::move(text), std::move(f));
}
