#include <cstdio>
#include <cstring>

#include "ASQuery.h"

Str::Str(const char* text) : text_(text ? text : "") {}
Str::Str(const char* data, size_t size) : text_(data ? std::string(data, size) : std::string()) {}
Str::Str(const std::string& text) : text_(text) {}
Str::Str(std::string text, std::shared_ptr<const ASSqlFragment> fragment)
    : text_(std::move(text)), fragment_(std::move(fragment)) {}

std::string Guid::Bytes() const {
  std::string b(16, '\0');
  for (int i = 0; i < 8; ++i) {
    b[i] = static_cast<char>((first_ >> (56 - 8 * i)) & 0xff);
    b[8 + i] = static_cast<char>((second_ >> (56 - 8 * i)) & 0xff);
  }
  return b;
}

Guid Guid::FromBytes(const void* data, size_t n) {
  if (n != 16 || !data)
    throw AException("a GUID value must be 16 bytes, got " + std::to_string(n));
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint64_t a = 0, b = 0;
  for (int i = 0; i < 8; ++i) {
    a = (a << 8) | p[i];
    b = (b << 8) | p[8 + i];
  }
  return Guid(a, b);
}

RealBlob::RealBlob(size_t length, const void* bytes, bool copy)
    : data_(bytes), size_(bytes ? length : 0) {
  if (copy && bytes) {
    own_ = std::make_shared<std::string>(static_cast<const char*>(bytes), length);
    data_ = own_->data();
  }
}

AException::AException(const std::string& text, int code, bool connectionLost, ASErrorKind kind)
    : text_(text), code_(code), lost_(connectionLost), kind_(kind) {}

::Str ASValue::Str() const {
  if (null_) return ::Str();
  switch (type_) {
    case AS_INT:
    case AS_INT64:
    case AS_TIME:
      return ::Str(std::to_string(i_));
    case AS_DOUBLE: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", d_);
      return ::Str(buf);
    }
    default:
      return ::Str(b_.data(), b_.size());
  }
}

ASVStr& ASVStr::operator=(const char* v) {
  if (v)
    SetBytes(v, std::strlen(v));
  else
    SetNull();
  return *this;
}

ASGuid& ASGuid::operator=(const ::Guid& g) {
  std::string b = g.Bytes();
  SetBytes(b.data(), b.size());
  return *this;
}

::Guid ASGuid::Guid() const { return ::Guid::FromBytes(b_.data(), b_.size()); }
