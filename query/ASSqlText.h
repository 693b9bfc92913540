// SQL text under construction. Table aliases are written as tokens naming the domain's
// serial and resolved only when the whole statement is finished, so that a fragment made by
// Query() can be embedded into another statement where the same table objects take part,
// and so that the same statement shape always resolves to the same text (statement cache).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ASDriver.h"
#include "ASQuery.h"

// The SQL a Str made by Query() stands for: tokenised text and the values of its '?'.
struct ASSqlFragment {
  std::string sql;
  std::vector<ASBindValue> values;
  // The statement's dialect, for plan hints of embedded selects; none in a Query() text.
  const ASDriverConnection* dialect = nullptr;
};

class ASSqlWriter {
 public:
  ASSqlWriter() { sql.reserve(192); }  // one allocation for a whole statement's text
  std::string sql;
  std::vector<ASBindValue> values;
  // The statement's dialect, for plan hints of embedded selects; none in a Query() text.
  const ASDriverConnection* dialect = nullptr;

  ASSqlWriter& operator<<(const char* s) { sql += s; return *this; }
  ASSqlWriter& operator<<(const std::string& s) { sql += s; return *this; }
  void Alias(const ASDomain& d);
  void Column(const ASDomain& d, size_t column);
  void Value(ASBindValue v);
  void Embed(const Str& s);  // a Query() text: its fragment, or raw SQL when it has none
};

// Resolves alias tokens to t1, t2, ... in order of appearance; a serial found in `fixed`
// becomes that text instead (the bare table name of an UPDATE or DELETE).
std::string ASResolveAliases(const std::string& tokenised,
                             const std::map<unsigned long, std::string>* fixed = nullptr);

// The value `v` as it is bound for a column of `type`.
ASBindValue ASCoerce(const ASBindValue& v, ASType type);
// The value member `v` as it is bound for a column of `type` (inserts and updates).
ASBindValue ASBindOf(const ASValue& v, ASType type);

// The same, its bytes borrowed from `v` (which must outlive the statement's execution).
ASBindValue ASBindRefOf(const ASValue& v, ASType type);

// Readable text of a fragment (aliases resolved, values left as '?').
Str ASMakeQueryStr(ASSqlWriter&& w);
