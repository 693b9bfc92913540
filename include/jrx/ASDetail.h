// What the query interface's objects hold inside them, declared here only because their
// layout must be known where they are made: not part of the interface. Nothing outside the
// library names namespace ASDetail; it changes whenever the library needs it to.
#pragma once

#include <memory>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

class ASDomain;
class ASValue;
class Str;

namespace ASDetail {

// One bound parameter or one fetched column value, as the library hands them to a database.
struct BindValue {
  enum Kind { Null, Integer, Real, Text, Blob };
  Kind kind = Null;
  long long i = 0;
  double d = 0;
  std::string bytes;
  // Bytes borrowed instead of `bytes`: a value member or a condition's value, alive until the
  // statement ran. Readers of a bound value go through Bytes().
  const std::string* ref = nullptr;

  const std::string& Bytes() const { return ref ? *ref : bytes; }

  static BindValue MakeInt(long long v) { BindValue b; b.kind = Integer; b.i = v; return b; }
};

// What an operand stands for: a column of a table object, a value, a value member read when
// the statement runs, or a sub-select (the SQL of ASFilter::Query() with its values).
struct Term {
  enum Kind { Column, Value, Bound, Subselect };
  Kind kind = Value;
  ASDomain* domain = nullptr;  // Column
  size_t column = 0;
  BindValue value;             // Value
  const ASValue* bound = nullptr;  // Bound
  // Subselect: shared with the attribute it came from; null for the other kinds.
  std::shared_ptr<const Str> sql;
};

// The count of a condition node's handles (the node itself is the library's). A plain
// count: a condition belongs to the thread that made it (see ASComparison).
struct CountedNode {
  mutable unsigned refs = 0;
};
void DropNode(const CountedNode* node);  // frees a node whose last handle went
inline void intrusive_ptr_add_ref(const CountedNode* n) { ++n->refs; }
inline void intrusive_ptr_release(const CountedNode* n) {
  if (--n->refs == 0) DropNode(n);
}
using NodeRef = boost::intrusive_ptr<const CountedNode>;

}  // namespace ASDetail

JRX_PUBLIC_END
