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
  std::map<unsigned long, std::string> names;
  std::string out;
  out.reserve(tokenised.size());
  size_t i = 0;
  while (i < tokenised.size()) {
    char c = tokenised[i];
    if (c != kAliasOpen) {
      out += c;
      ++i;
      continue;
    }
    size_t end = tokenised.find(kAliasClose, i);
    if (end == std::string::npos) throw AException("malformed SQL fragment");
    unsigned long serial = std::stoul(tokenised.substr(i + 1, end - i - 1));
    i = end + 1;
    if (fixed) {
      auto f = fixed->find(serial);
      if (f != fixed->end()) {
        out += f->second;
        continue;
      }
    }
    auto it = names.find(serial);
    if (it == names.end())
      it = names.emplace(serial, "t" + std::to_string(names.size() + 1)).first;
    out += it->second;
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
      if (v.kind == ASBindValue::Blob) return ASBindValue::MakeText(v.bytes);
      return v;
    case AS_BINSTR:
    case AS_GUID:
    case AS_BLOB:
      if (v.kind == ASBindValue::Integer) return ASBindValue::MakeBlob(std::to_string(v.i));
      if (v.kind == ASBindValue::Real) return ASBindValue::MakeBlob(std::to_string(v.d));
      if (v.kind == ASBindValue::Text) return ASBindValue::MakeBlob(v.bytes);
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

Str ASMakeQueryStr(ASSqlWriter&& w) {
  auto f = std::make_shared<ASSqlFragment>();
  f->sql = std::move(w.sql);
  f->values = std::move(w.values);
  std::string text = ASResolveAliases(f->sql);
  return Str(std::move(text), std::move(f));
}
