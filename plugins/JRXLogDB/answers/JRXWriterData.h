// Answer writers of the two queries: every record of the caller's vector becomes one child
// element with the answer's element id, written by the record's own writer.
#pragma once

#include <vector>

#include "JRXLog.h"
#include "JRXMessage.h"
#include "JRXRecords.h"

namespace JRX {

namespace Debug {
inline bool check(bool v) { return v; }
}  // namespace Debug

#define JRX_WRITER_CHECK(cond, fn)                                                       \
  do {                                                                                   \
    if (!::JRX::Debug::check(cond))                                                      \
      ::JRX::abort("JRXLogDBLocal", "core/src/JRXMessage/JRXMessageIterator", __LINE__, \
                   fn, __PRETTY_FUNCTION__);                                              \
  } while (0)

// Puts one object with its writer at the iterator's current element, declaring the
// writer's namespace and type around it.
template <class Writer, class T>
int putObjectInternal(JRXMessageIterator& it, const Writer& w, const T& obj) {
  JRX_WRITER_CHECK(w.getStrNSID() != nullptr && w.getStrTypeID() != nullptr,
                   "putObjectInternal");
  bool nsSet = false;
  if (w.getNSID() != 0) {
    it.setNamespace(w.getNSID());
    nsSet = true;
  } else if (*w.getStrNSID() != '\0') {
    it.setNamespace(w.getStrNSID());
    nsSet = true;
  }
  if (w.getTypeID() > 100)
    it.setType(w.getNSID(), w.getTypeID());
  else if (*w.getStrTypeID() != '\0')
    it.setType(w.getStrNSID(), w.getStrTypeID());
  int r = w(it, obj);
  if (nsSet) it.setNamespace(0);
  return r;
}

// Writes one value as a child element `id`.
template <class IdT, class Writer, class NsT>
struct JRXWriterIDT : JRXWriterBase {
  JRXWriterIDT(IdT i, NsT ns) : id(i), itemNSType(ns) {}
  template <class T>
  int put(JRXMessageIterator& it, const T& obj) const {
    JRX_WRITER_CHECK(id != 0, "operator()");
    it.descend(id);
    int r = putObjectInternal(it, writer, obj);
    if (itemNSType != 0) it.setNamespaceType(itemNSType);
    it.ascend();
    return r;
  }
  IdT id;
  NsT itemNSType;
  Writer writer;
};

// The predicate the list writer applies to each element; false stops the list.
template <class ItemWriter>
struct JRXWriterListItemT {
  JRXWriterListItemT(JRXMessageIterator& i, const ItemWriter& w) : it(i), writer(w) {}
  template <class T>
  bool operator()(const T& obj) {
    result = writer.put(it, obj);
    return result == 0;
  }
  JRXMessageIterator& it;
  const ItemWriter& writer;
  int result = 0;
};

template <class ItemWriter>
struct JRXWriterListT : JRXWriterBase {
  explicit JRXWriterListT(const ItemWriter& w) : item(w) {}
  // 0 when every element was written, 1 when one failed (the rest is not written).
  template <class Container>
  int operator()(JRXMessageIterator& it, const Container& c) const {
    JRXWriterListItemT<ItemWriter> pred(it, item);
    for (const auto& obj : c)
      if (!pred(obj)) return 1;
    return 0;
  }
  ItemWriter item;
};

template <class Container, class ListWriter>
class JRXMsgWriterData : public JRXMsgWriter {
 public:
  JRXMsgWriterData(const Container* c, const ListWriter& w) : container(c), writer(w) {}
  ~JRXMsgWriterData() override = default;
  int write(JRXMessageIterator& it) const override {
    return putObjectInternal(it, writer, *container);
  }

 private:
  const Container* container;
  ListWriter writer;
};

template <class Container>
JRXMsgWriter* newJRXWriterData(Container& records, int id) {
  typedef typename Container::value_type Item;
  typedef JRXWriterListT<JRXWriterIDT<int, typename Item::Writer, int>> List;
  return new JRXMsgWriterData<Container, List>(&records, List(JRXWriterIDT<int, typename Item::Writer, int>(id, 0)));
}

}  // namespace JRX
