// 128-bit identifiers: GUIDs of events and identifiers of environments.
// Text form: 36 characters 8-4-4-4-12 hex, lower case; fromString also accepts upper case
// and one pair of surrounding braces. The all-zero value is the invalid identifier.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

class JRXGUIDBase {
 public:
  JRXGUIDBase() = default;
  JRXGUIDBase(long long first, long long second)
      : first_(static_cast<uint64_t>(first)), second_(static_cast<uint64_t>(second)) {}

  bool isValid() const { return first_ != 0 || second_ != 0; }
  std::string toString() const;
  // 0 on success; non-zero (and the value unchanged) when the text is no identifier.
  int fromString(const char* text);
  void getData(unsigned long long& first, unsigned long long& second) const {
    first = first_;
    second = second_;
  }
  bool operator==(const JRXGUIDBase& o) const { return first_ == o.first_ && second_ == o.second_; }
  bool operator!=(const JRXGUIDBase& o) const { return !(*this == o); }
  bool operator<(const JRXGUIDBase& o) const {
    return first_ != o.first_ ? first_ < o.first_ : second_ < o.second_;
  }

 protected:
  uint64_t first_ = 0;
  uint64_t second_ = 0;
};

class JRXGUID : public JRXGUIDBase {
 public:
  JRXGUID() = default;
  JRXGUID(long long first, long long second) : JRXGUIDBase(first, second) {}
  static JRXGUID generate();  // random (version 4)
};

class JRXEID : public JRXGUIDBase {
 public:
  JRXEID() = default;
  JRXEID(long long first, long long second) : JRXGUIDBase(first, second) {}
  JRXEID(const JRXGUID& g) : JRXGUIDBase(g) {}  // NOLINT
  static const JRXEID EID_INVALID;
};

struct JRXEnvIDComparator {
  bool operator()(const JRXEID& a, const JRXEID& b) const { return a < b; }
};

class JRXEIDList : public std::set<JRXEID, JRXEnvIDComparator> {
 public:
  using std::set<JRXEID, JRXEnvIDComparator>::set;
};

}  // namespace JRX

JRX_PUBLIC_END
