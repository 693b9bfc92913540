// The registry of polymorphic payload types, and the derived-object writer and reader.
// A payload is written as element `id` holding child 1, the registered name (bytes), and
// child 2, the object's fields as its own Writer puts them.
#include <boost/make_shared.hpp>
#include <map>
#include <mutex>
#include <typeindex>

#include "JRXMessage.h"

namespace JRX {

namespace {

enum { DERIVED_NAME = 1, DERIVED_BODY = 2 };

template <class Base, class Derived>
class TypedParser : public JRXDerivedParserFactory<Base>::Parser {
 public:
  explicit TypedParser(const char* name) : name_(name) {}
  const char* name() const override { return name_; }
  int write(JRXMessageIterator& it, const Base& obj) const override {
    return typename Derived::Writer()(it, static_cast<const Derived&>(obj));
  }
  boost::shared_ptr<Base> read(const JRXMessageIterator& it) const override {
    auto d = boost::make_shared<Derived>();
    if (typename Derived::Reader()(it, *d) != 0) return boost::shared_ptr<Base>();
    return d;
  }

 private:
  const char* name_;
};

// The base type itself has no fields: a payload of a name nobody registered is read as one.
template <class Base>
class BaseParser : public JRXDerivedParserFactory<Base>::Parser {
 public:
  explicit BaseParser(const char* name) : name_(name) {}
  const char* name() const override { return name_; }
  int write(JRXMessageIterator&, const Base&) const override { return 0; }
  boost::shared_ptr<Base> read(const JRXMessageIterator&) const override {
    return boost::make_shared<Base>();
  }

 private:
  const char* name_;
};

void registerBuiltins(JRXDerivedParserFactory<JRXEventData>& f) {
  f.add(typeid(JRXEventData), std::make_unique<BaseParser<JRXEventData>>("JRXEventData"));
  f.add(typeid(JRXAuditEvent),
        std::make_unique<TypedParser<JRXEventData, JRXAuditEvent>>("JRXAuditEvent"));
}

}  // namespace

template <class Base>
struct JRXDerivedParserFactory<Base>::Impl {
  mutable std::mutex m;
  std::map<std::type_index, std::unique_ptr<Parser>> byType;
  std::map<std::string, const Parser*> byName;
  const Parser* base = nullptr;
};

template <class Base>
JRXDerivedParserFactory<Base>::JRXDerivedParserFactory() : impl_(std::make_unique<Impl>()) {}

template <class Base>
JRXDerivedParserFactory<Base>& JRXDerivedParserFactory<Base>::instance() {
  static JRXDerivedParserFactory* f = [] {
    auto* made = new JRXDerivedParserFactory();  // lives as long as the process
    registerBuiltins(*made);
    return made;
  }();
  return *f;
}

template <class Base>
const typename JRXDerivedParserFactory<Base>::Parser* JRXDerivedParserFactory<Base>::byType(
    const std::type_info& t) const {
  std::lock_guard<std::mutex> lock(impl_->m);
  auto it = impl_->byType.find(std::type_index(t));
  return it == impl_->byType.end() ? nullptr : it->second.get();
}

template <class Base>
const typename JRXDerivedParserFactory<Base>::Parser* JRXDerivedParserFactory<Base>::byName(
    const std::string& name) const {
  std::lock_guard<std::mutex> lock(impl_->m);
  auto it = impl_->byName.find(name);
  return it == impl_->byName.end() ? nullptr : it->second;
}

template <class Base>
const typename JRXDerivedParserFactory<Base>::Parser*
JRXDerivedParserFactory<Base>::defaultParser() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->base;
}

template <class Base>
void JRXDerivedParserFactory<Base>::add(const std::type_info& t, std::unique_ptr<Parser> p) {
  if (!p) return;
  std::lock_guard<std::mutex> lock(impl_->m);
  const Parser* raw = p.get();
  impl_->byName[raw->name()] = raw;
  if (t == typeid(Base)) impl_->base = raw;
  impl_->byType[std::type_index(t)] = std::move(p);
}

template <class Base>
int JRXWriterDerived<Base>::putObject(JRXMessageIterator& it, int id,
                                      const boost::shared_ptr<Base>& obj) const {
  if (!obj || !it.valid()) return -1;
  const auto& factory = JRXDerivedParserFactory<Base>::instance();
  const auto* parser = factory.byType(typeid(*obj));
  // A type nobody registered is written as what the registry falls back to, so that the
  // record carrying it is kept; it reads back as that type.
  if (!parser) parser = factory.defaultParser();
  if (!parser) return -1;
  it.descend(id);
  it.putBytes(DERIVED_NAME, parser->name());
  it.descend(DERIVED_BODY);
  int r = parser->write(it, *obj);
  it.ascend();
  it.ascend();
  return r;
}

template <class Base>
int JRXReaderDerived<Base>::getObject(const JRXMessageIterator& it, int id,
                                      boost::shared_ptr<Base>& out) const {
  JRXMessageIterator c = it.child(id);
  std::string name;
  if (!c.valid() || c.getBytes(DERIVED_NAME, name) != 0) return -1;
  const auto& factory = JRXDerivedParserFactory<Base>::instance();
  const auto* parser = factory.byName(name);
  if (!parser && useDefault_) parser = factory.defaultParser();
  if (!parser) return -1;
  JRXMessageIterator body = c.child(DERIVED_BODY);
  if (!body.valid()) return -1;
  boost::shared_ptr<Base> obj = parser->read(body);
  if (!obj) return -1;
  out = obj;
  return 0;
}

template class JRXDerivedParserFactory<JRXEventData>;
template class JRXWriterDerived<JRXEventData>;
template class JRXReaderDerived<JRXEventData>;

}  // namespace JRX
