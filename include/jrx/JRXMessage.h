// The framework message: a tree of elements, each with an id, an optional namespace (number
// or name), type (number or name, qualified by the namespace it was set in), namespace type,
// an optional value (integer or bytes) and children.
//
// The namespace of an element (ns / nsName) is the scope a writer declares while it writes
// the element; writers clear it afterwards with setNamespace(0). The type keeps the namespace
// it was given in (typeNs / typeNsName), so an event written by the answer writer ends with
// typeNs 292, type 160 and no namespace declared. Records are written into it by their Writer and read back by their Reader; the
// binary form is documented in framework/JRXMessageFormat.h.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "JRXInfo.h"
#include "JRXRecords.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

struct JRXMessageElement {
  enum Kind : uint8_t { NONE = 0, INT = 1, BYTES = 2 };
  int id = 0;
  int ns = 0;
  std::string nsName;
  int type = 0;
  int typeNs = 0;
  std::string typeName;
  std::string typeNsName;
  int nsType = 0;
  Kind kind = NONE;
  long long i = 0;
  std::string bytes;
  std::vector<std::unique_ptr<JRXMessageElement>> children;
  JRXMessageElement* parent = nullptr;

  // The nth child with that id, or null.
  const JRXMessageElement* child(int id, size_t nth = 0) const;
  size_t count(int id) const;
  // Structural equality (ids, namespaces, types, values, children in order).
  bool operator==(const JRXMessageElement& o) const;
  bool operator!=(const JRXMessageElement& o) const { return !(*this == o); }
};

// A cursor on one element of a message. The writers reach it through its virtual table.
class JRXMessageIterator {
 public:
  explicit JRXMessageIterator(JRXMessageElement* element) : cur_(element) {}
  virtual ~JRXMessageIterator() = default;

  // Structure.
  virtual void descend(int id);  // new child element with that id becomes current
  virtual void ascend();         // the parent becomes current (no-op at the root)
  virtual void setNamespace(int ns);  // 0 clears the namespace
  virtual void setNamespace(const char* name);
  virtual void setType(int ns, int type);
  virtual void setType(const char* ns, const char* type);
  virtual void setNamespaceType(int nsType);

  // Values: a leaf child element with the id holding the value.
  virtual void putInt(int id, long long v);
  virtual void putBytes(int id, const std::string& v);
  // Reading: 0 on success, -1 when the child is missing or of another kind.
  int getInt(int id, long long& v, size_t nth = 0) const;
  int getBytes(int id, std::string& v, size_t nth = 0) const;

  // A record through its Writer / Reader as child element `id`; id 0 uses the current
  // element itself.
  template <class T>
  int putObj(const T& obj, int id);
  template <class T>
  int getObj(T& obj, int id, size_t nth = 0) const;

  JRXMessageElement* element() const { return cur_; }
  // A cursor on the nth child with `id` (null element when missing).
  JRXMessageIterator child(int id, size_t nth = 0) const;
  bool valid() const { return cur_ != nullptr; }

 protected:
  JRXMessageElement* cur_;
};

class JRXMessage {
 public:
  class Factory {
   public:
    JRXMessage* createNew() const { return new JRXMessage(); }
  };
  static const Factory* getFactory();

  JRXMessage();
  ~JRXMessage();
  JRXMessage(const JRXMessage&) = delete;
  JRXMessage& operator=(const JRXMessage&) = delete;

  void setName(const char* name) { name_ = name ? name : ""; }
  const std::string& getName() const { return name_; }
  // The top-level iterator (on the root element); owned by the message.
  JRXMessageIterator* getIterator();
  const JRXMessageElement& root() const { return *root_; }

  // Serialises into a buffer allocated with malloc (the caller frees it). `flags` and
  // `version` go into the header; 0 and 40500 are what the logs pass. 0 on success.
  int serialize(char** buffer, uint32_t* length, int flags, int version) const;
  // Loads from `size` bytes; 0 on success, non-zero on malformed or truncated input (the
  // message is then empty). Never reads outside [data, data + size).
  int load(const char* data, size_t size, int flags);

 private:
  std::string name_;
  std::unique_ptr<JRXMessageElement> root_;
  std::unique_ptr<JRXMessageIterator> it_;
};

// Answers: the framework calls write() on the writer that a command ends with.
class JRXMsgWriter {
 public:
  virtual int write(JRXMessageIterator& it) const = 0;
  virtual ~JRXMsgWriter() = default;
};

// Identity of a writer: namespace and type it declares for the element it writes into.
struct JRXWriterBase {
  int getNSID() const { return 0; }
  const char* getStrNSID() const { return ""; }
  int getTypeID() const { return 50; }
  const char* getStrTypeID() const { return ""; }
};

// Record writers and readers: call operator writes the record's fields as children of the
// current element / reads them back; 0 on success.
struct JRXInfo::Writer : JRXWriterBase {
  int getNSID() const { return 292; }
  int getTypeID() const { return 161; }
  int operator()(JRXMessageIterator& it, const JRXInfo& v) const;
};
struct JRXInfo::Reader {
  int operator()(const JRXMessageIterator& it, JRXInfo& v) const;
};
struct JRXRequestProgressData::Writer : JRXWriterBase {
  int operator()(JRXMessageIterator& it, const JRXRequestProgressData& v) const;
};
struct JRXRequestProgressData::Reader {
  int operator()(const JRXMessageIterator& it, JRXRequestProgressData& v) const;
};
struct JRXEvent::Writer : JRXWriterBase {
  int getNSID() const { return 292; }
  int getTypeID() const { return 160; }
  int operator()(JRXMessageIterator& it, const JRXEvent& v) const;
};
struct JRXEvent::Reader {
  int operator()(const JRXMessageIterator& it, JRXEvent& v) const;
};
struct JRXAuditEvent::Writer : JRXWriterBase {
  int operator()(JRXMessageIterator& it, const JRXAuditEvent& v) const;
};
struct JRXAuditEvent::Reader {
  int operator()(const JRXMessageIterator& it, JRXAuditEvent& v) const;
};

template <class T>
int JRXMessageIterator::putObj(const T& obj, int id) {
  typename T::Writer w;
  if (id != 0) descend(id);
  if (w.getNSID() != 0) setNamespace(w.getNSID());
  if (w.getTypeID() > 100) setType(w.getNSID(), w.getTypeID());
  int r = w(*this, obj);
  if (id != 0) ascend();
  return r;
}

template <class T>
int JRXMessageIterator::getObj(T& obj, int id, size_t nth) const {
  JRXMessageIterator c = id != 0 ? child(id, nth) : *this;
  if (!c.valid()) return -1;
  typename T::Reader r;
  return r(c, obj);
}

// A self-contained typed container (one message) for values stored on their own.
class JRXAnyData {
 public:
  explicit JRXAnyData(int type);
  int getType() const { return type_; }
  JRXMessageIterator& any() { return *msg_.getIterator(); }
  // Buffer allocated with malloc; 0 on success.
  int serialize(char** buffer, uint32_t* length) const;
  // 0 on success; non-zero on malformed input, a wrong type, or truncation (the container
  // is then empty).
  int deserialize(const char* data, uint32_t length);

 private:
  int type_;
  JRXMessage msg_;
};

// Polymorphic payloads. Each concrete type is registered with a stable name; the derived
// writer stores that name beside the object so that the reader can rebuild the same type.
template <class Base>
class JRXDerivedParserFactory {
 public:
  struct Parser {
    virtual ~Parser() = default;
    virtual const char* name() const = 0;
    virtual int write(JRXMessageIterator& it, const Base& obj) const = 0;
    virtual boost::shared_ptr<Base> read(const JRXMessageIterator& it) const = 0;
  };
  static JRXDerivedParserFactory& instance();
  // By run-time type (typeid name) for writing; by stored name for reading.
  const Parser* byType(const std::type_info& t) const;
  const Parser* byName(const std::string& name) const;
  const Parser* defaultParser() const;
  void add(const std::type_info& t, std::unique_ptr<Parser> p);

 private:
  struct Impl;
  JRXDerivedParserFactory();
  std::unique_ptr<Impl> impl_;
};

template <class Base>
class JRXWriterDerived {
 public:
  // Writes obj as child element `id`: its registered name and its fields (a type without a
  // parser of its own as the registry's default type). 0 on success.
  int putObject(JRXMessageIterator& it, int id, const boost::shared_ptr<Base>& obj) const;
};

template <class Base>
class JRXReaderDerived {
 public:
  // With useDefault false, a stored name without parser is not handed to the default parser.
  explicit JRXReaderDerived(bool useDefault) : useDefault_(useDefault) {}
  // Reads child element `id` into out; on any failure out is left as it was. 0 on success.
  int getObject(const JRXMessageIterator& it, int id, boost::shared_ptr<Base>& out) const;

 private:
  bool useDefault_;
};

// Instantiated in the framework for JRXEventData (JRXAuditEvent registered as "JRXAuditEvent").
extern template class JRXDerivedParserFactory<JRXEventData>;
extern template class JRXWriterDerived<JRXEventData>;
extern template class JRXReaderDerived<JRXEventData>;

}  // namespace JRX

JRX_PUBLIC_END
