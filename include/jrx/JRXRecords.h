// Records exchanged between the log services and their callers.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "JRXGUID.h"
#include "JRXInfo.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

class JRXMessageIterator;

struct JRXSessionID {
  JRXSessionID() = default;
  JRXSessionID(const std::string& t) : text(t) {}  // NOLINT
  bool operator==(const JRXSessionID& o) const { return text == o.text; }
  std::string text;
};

struct JRXSID {
  JRXSID() = default;
  explicit JRXSID(const std::vector<unsigned char>& d) : data(d) {}
  bool operator==(const JRXSID& o) const { return data == o.data; }
  std::vector<unsigned char> data;
};

struct JRXIPv6 {
  JRXIPv6() { for (auto& b : bytes) b = 0; }
  // Accepts IPv6 text and dotted IPv4 (stored as IPv4-mapped); 0 on success.
  int fromString(const std::string& text);
  std::string toString() const;
  bool operator==(const JRXIPv6& o) const;
  unsigned char bytes[16];
};

class JRXEventData {
 public:
  virtual ~JRXEventData() = default;
};

class JRXAuditEvent : public JRXEventData {
 public:
  std::string session;
  JRXIPv6 address;
  std::string detail;
  int kind = 0;
  bool operator==(const JRXAuditEvent& o) const {
    return session == o.session && address == o.address && detail == o.detail && kind == o.kind;
  }
  struct Writer;
  struct Reader;
};

class JRXEvent {
 public:
  JRXEvent() = default;
  // `source` names who produced the event; it becomes the initial category.
  explicit JRXEvent(const std::string& source) : category(source) {}

  JRXEID eid;
  int64_t time = 0;
  std::string category;
  std::string type;
  JRXSID sid;
  int code = 0;
  JRXGUID guid;
  JRXInfo info;
  boost::shared_ptr<JRXEventData> data;

  struct Writer;  // namespace 292, type 160
  struct Reader;
};

class JRXRequestProgressData {
 public:
  explicit JRXRequestProgressData(const std::string& requestId = std::string()) : id(requestId) {}

  std::string id;
  std::string parentId;
  JRXInfo info;
  std::string name;
  int progress = 0;
  int status = 0;
  int64_t time = 0;
  JRXEIDList operands;
  JRXSessionID sessionId;
  JRXEID eid;

  struct Writer;  // writer defaults: no namespace, type 50
  struct Reader;
};

struct JRXRequestErrorData {
  JRXRequestErrorData(int c = 0, const std::string& m = std::string()) : code(c), message(m) {}
  int code;
  std::string message;
};

}  // namespace JRX

JRX_PUBLIC_END
