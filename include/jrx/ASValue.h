// Values: the library's text, integer, identifier and blob types, the value members a table
// class holds (one per column), and the one exception every failure of the library throws.
//
// Thread safety: none of these objects is synchronised; a value is used by one thread at a
// time (copies of Str, Int, Guid, RealBlob and AException may go to other threads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

struct ASSqlFragment;

// A text value of the library: owns its bytes (which may contain NUL). A Str made by
// ASFilter::Query() or ASComparison::Query() additionally carries the SQL fragment (bound
// values, table aliases) that its text stands for; copies share that fragment, which is
// immutable.
class Str {
 public:
  Str() = default;
  Str(const char* text);  // NOLINT: implicit by design, like a string literal
  Str(const char* data, size_t size);
  Str(const std::string& text);  // NOLINT
  Str(std::string text, std::shared_ptr<const ASSqlFragment> fragment);

  const char* c_str() const { return text_.c_str(); }
  size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  const std::string& str() const { return text_; }
  operator const std::string&() const { return text_; }  // NOLINT
  bool operator==(const Str& o) const { return text_ == o.text_; }
  bool operator!=(const Str& o) const { return text_ != o.text_; }

  const std::shared_ptr<const ASSqlFragment>& Fragment() const { return fragment_; }

 private:
  std::string text_;
  std::shared_ptr<const ASSqlFragment> fragment_;
};

class Int {
 public:
  Int(long long v = 0) : v_(v) {}  // NOLINT
  long long Value() const { return v_; }
  operator long long() const { return v_; }  // NOLINT

 private:
  long long v_;
};

// 128-bit identifier; stored as 16 bytes, `first` big-endian then `second` big-endian.
class Guid {
 public:
  Guid() = default;
  Guid(uint64_t first, uint64_t second) : first_(first), second_(second) {}
  uint64_t First() const { return first_; }
  uint64_t Second() const { return second_; }
  std::string Bytes() const;                         // the 16 stored bytes
  static Guid FromBytes(const void* data, size_t n);  // n != 16 throws AException
  bool operator==(const Guid& o) const { return first_ == o.first_ && second_ == o.second_; }
  bool operator!=(const Guid& o) const { return !(*this == o); }

 private:
  uint64_t first_ = 0;
  uint64_t second_ = 0;
};

// Bytes for a blob column.
// REQUIRES: with copy == false, the bytes stay alive and unchanged until the blob is
// assigned to a value member (which copies them).
class RealBlob {
 public:
  RealBlob(size_t length, const void* bytes, bool copy);
  const void* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  std::shared_ptr<std::string> own_;
  const void* data_;
  size_t size_;
};

// What a failure means to the caller, decided by the driver from its native code.
enum ASErrorKind {
  AS_ERROR_OTHER,
  // Another session's work got in the way (deadlock victim, lock wait timeout, busy or
  // locked file, cluster certification conflict): the database has given up the statement,
  // maybe the whole transaction, and replaying the transaction from its start may succeed.
  AS_ERROR_CONFLICT,
  // An insert met an existing row with the same unique key; only the statement failed.
  AS_ERROR_DUPLICATE_KEY,
};

// Every failure of the library, with the database's own message where the database failed.
class AException : public std::exception {
 public:
  // `code` is the driver's native error number (0 when none); `connectionLost` tells that
  // the connection is gone and was (or will be) replaced by the session.
  explicit AException(const std::string& text, int code = 0, bool connectionLost = false,
                      ASErrorKind kind = AS_ERROR_OTHER);
  const Str& Text() const { return text_; }
  int Code() const { return code_; }
  bool ConnectionLost() const { return lost_; }
  ASErrorKind Kind() const { return kind_; }
  // A replay of the whole transaction on a fresh start may succeed.
  bool Transient() const { return lost_ || kind_ == AS_ERROR_CONFLICT; }
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  Str text_;
  int code_;
  bool lost_;
  ASErrorKind kind_;
};

enum ASType { AS_INT, AS_INT64, AS_VSTR, AS_BINSTR, AS_TIME, AS_GUID, AS_BLOB, AS_DOUBLE };

// Column flags for the schema.
enum : unsigned { AS_COL_NONE = 0, AS_COL_AUTOINC = 1, AS_COL_NOT_NULL = 2 };

// What every database accepts alike. A text or blob column holds any bytes of any length,
// unless its schema gives it a width (for short codes that keys are made of). The values a
// row inserts or an update sets may come to at most AS_MAX_ROW_BYTES, so that every row
// fits the server's packets when it is written and read back (also joined to two others).
// Whatever goes beyond is refused with an AException before the statement runs, on every
// database.
constexpr size_t AS_MAX_ROW_BYTES = 4u << 20;

// ---------------------------------------------------------------------------- value members

// The value of one column of a table object: what an insert reads and a fetch fills. A value
// member owns its bytes. Null until assigned or fetched.
class ASValue {
 public:
  explicit ASValue(ASType type) : type_(type) {}
  ASType Type() const { return type_; }

  bool IsNull() const { return null_; }
  void SetNull() { Set(true, 0, 0); b_.clear(); }

  ::Int Int() const { return ::Int(i_); }
  ::Str Str() const;  // text of a text or blob value; decimal text of a number
  long long AsInt64() const { return i_; }
  double AsDouble() const { return d_; }
  const std::string& Bytes() const { return b_; }
  size_t size() const { return b_.size(); }
  const void* voidptr() const { return b_.data(); }

  // Set by the drivers when fetching and by the typed assignments below.
  void SetInt64(long long v) { Set(false, v, static_cast<double>(v)); b_.clear(); }
  void SetDouble(double v) { Set(false, static_cast<long long>(v), v); b_.clear(); }
  void SetBytes(const void* data, size_t n) {
    Set(false, 0, 0);
    if (n)
      b_.assign(static_cast<const char*>(data), n);
    else
      b_.clear();
  }
  // Takes the bytes of `from` over; `from` is left valid, its content unspecified.
  void TakeBytes(std::string& from) {
    Set(false, 0, 0);
    b_ = std::move(from);
  }

 protected:
  void Set(bool null, long long i, double d) {
    null_ = null;
    i_ = i;
    d_ = d;
  }
  ASType type_;
  bool null_ = true;
  long long i_ = 0;
  double d_ = 0;
  std::string b_;
};

class ASInt : public ASValue {
 public:
  ASInt() : ASValue(AS_INT) {}
  ASInt& operator=(int v) { SetInt64(v); return *this; }
  ASInt& operator=(const ::Int& v) { SetInt64(static_cast<int>(v.Value())); return *this; }
};

class ASInt64 : public ASValue {
 public:
  ASInt64() : ASValue(AS_INT64) {}
  ASInt64& operator=(long long v) { SetInt64(v); return *this; }
  ASInt64& operator=(const ::Int& v) { SetInt64(v.Value()); return *this; }
};

// Texts; AS_BINSTR columns hold arbitrary bytes.
class ASVStr : public ASValue {
 public:
  explicit ASVStr(ASType type = AS_VSTR) : ASValue(type) {}
  ASVStr& operator=(const char* v);
  ASVStr& operator=(const std::string& v) { SetBytes(v.data(), v.size()); return *this; }
  ASVStr& operator=(const ::Str& v) { SetBytes(v.c_str(), v.size()); return *this; }
};

// Seconds as a signed 32-bit value.
class ASTime : public ASValue {
 public:
  ASTime() : ASValue(AS_TIME) {}
  ASTime& operator=(int v) { SetInt64(v); return *this; }
};

class ASGuid : public ASValue {
 public:
  ASGuid() : ASValue(AS_GUID) {}
  ASGuid& operator=(const ::Guid& g);
  ::Guid Guid() const;  // throws AException when the stored value is not 16 bytes
};

class ASRealBlob : public ASValue {
 public:
  ASRealBlob() : ASValue(AS_BLOB) {}
  ASRealBlob& operator=(const RealBlob& b) { SetBytes(b.data(), b.size()); return *this; }
};

class ASDouble : public ASValue {
 public:
  ASDouble() : ASValue(AS_DOUBLE) {}
  ASDouble& operator=(double v) { SetDouble(v); return *this; }
};

JRX_PUBLIC_END
