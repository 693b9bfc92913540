// SQL text under construction. Table aliases are written as tokens naming the domain's
// serial and resolved only when the whole statement is finished, so that a fragment made by
// Query() can be embedded into another statement where the same table objects take part,
// and so that the same statement shape always resolves to the same text (statement cache).
#pragma once

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

// Alias tokens: the domain's serial between these.
const char kASAliasOpen = '\x01';
const char kASAliasClose = '\x02';

// Sources of a select's LIMIT and OFFSET values in ASSqlWriter::sources, and of values that
// are the same in every statement of a shape (those of an embedded select's LIMIT, which
// the shape's key holds).
extern const char ASLimitCountSource;
extern const char ASLimitOffsetSource;
extern const char ASConstantSource;

class ASSqlWriter {
 public:
  ASSqlWriter() { sql.reserve(192); }  // one allocation for a whole statement's text
  std::string sql;
  std::vector<ASBindValue> values;
  // Where each value came from (a value of a condition or a fragment, or a marker); what a
  // statement of a shape remembers to bind its parameters again (ASShapeKey).
  std::vector<const void*> sources;
  // The table of an UPDATE or DELETE, named by its bare name instead of an alias.
  const ASDomain* bare = nullptr;
  // The statement's dialect, for plan hints of embedded selects; none in a Query() text.
  const ASDriverConnection* dialect = nullptr;

  ASSqlWriter& operator<<(const char* s) { sql += s; return *this; }
  ASSqlWriter& operator<<(const std::string& s) { sql += s; return *this; }
  void Alias(const ASDomain& d);
  void Column(const ASDomain& d, size_t column);
  void Value(ASBindValue v, const void* source = nullptr);
  void Embed(const Str& s);  // a Query() text: its fragment, or raw SQL when it has none
};

// Resolves alias tokens to t1, t2, ... in order of appearance; those of `bare` become its
// table name instead (the target of an UPDATE or DELETE).
std::string ASResolveAliases(const std::string& tokenised, const ASDomain* bare = nullptr);

// The value `v` as it is bound for a column of `type`. Into `out`: with `borrow`, bytes that
// need no conversion are referred to in `v` instead of copied.
ASBindValue ASCoerce(const ASBindValue& v, ASType type);
void ASCoerceInto(const ASBindValue& v, ASType type, ASBindValue& out, bool borrow);
// 32-bit columns keep the low 32 bits of what they are given.
void ASWrapInto(ASType type, ASBindValue& v);
// The value member `v` as it is bound for a column of `type` (inserts and updates).
ASBindValue ASBindOf(const ASValue& v, ASType type);

// The same, its bytes borrowed from `v` (which must outlive the statement's execution).
ASBindValue ASBindRefOf(const ASValue& v, ASType type);
void ASBindRefInto(const ASValue& v, ASType type, ASBindValue& out);

// Readable text of a fragment (aliases resolved, values left as '?').
Str ASMakeQueryStr(ASSqlWriter&& w);
