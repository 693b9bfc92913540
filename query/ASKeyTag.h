// The letters of a statement's shape key (ASShapeKey), one for each thing the SQL text of a
// statement depends on, with the SQL it stands for. Keys are compared, never parsed, and
// each tag stands at a place the tags before it fix, so a letter needs to be unique only for
// the key to be readable when a test prints it; every letter is unique all the same.
#pragma once

#include <cstddef>

// Each tag: its name in code, its letter, its name in words, and what it puts into the
// statement's text (a dialect's own in parentheses).
#define AS_KEY_TAGS(X) \
  /* Statements. */ \
  X(Insert, 'I', "insert", "INSERT INTO ") \
  X(Update, 'U', "update", "UPDATE ") \
  X(Delete, 'X', "delete", "DELETE FROM ") \
  X(Select, 'S', "select", "SELECT ") \
  X(SelectDistinct, 'D', "select distinct", "SELECT DISTINCT ") \
  /* Clauses; None stands for a clause a statement does not have. */ \
  X(None, '-', "none", "") \
  X(Where, 'W', "where", " WHERE ") \
  X(Limit, 'L', "limit", " LIMIT ?") \
  X(Offset, 'O', "offset", " OFFSET ?") \
  X(Ascending, 'A', "ascending", "") \
  X(Descending, 'Z', "descending", " DESC") \
  X(ForUpdate, 'F', "for update", "(FOR UPDATE)") \
  X(ForShare, 'H', "for share", "(LOCK IN SHARE MODE)") \
  X(ForUpdateSkipLocked, 'K', "for update skip locked", "(FOR UPDATE SKIP LOCKED)") \
  /* Tables, on their first appearance in a statement. */ \
  X(Table, 'T', "table", "table alias") \
  X(LeftJoinedTable, 'J', "left joined table", " LEFT JOIN ") \
  /* Operands and embedded SQL. */ \
  X(Column, 'c', "column", "alias.column") \
  X(Value, 'v', "value", "?") \
  X(Subselect, 's', "sub-select", "(SELECT ...)") \
  X(RawSql, 'r', "raw SQL", "text as given") \
  X(Fragment, 'f', "fragment", "text with aliases") \
  X(Alias, '\x01', "alias token", "tN") \
  /* Conditions. */ \
  X(Equal, '=', "equal", " = ") \
  X(NotEqual, '#', "not equal", " <> ") \
  X(Less, '<', "less", " < ") \
  X(Greater, '>', "greater", " > ") \
  X(LessEqual, '{', "less or equal", " <= ") \
  X(GreaterEqual, '}', "greater or equal", " >= ") \
  X(IsNull, 'n', "is null", " IS NULL") \
  X(In, 'i', "in", " IN (") \
  X(NotIn, 'o', "not in", " NOT IN (") \
  X(And, '&', "and", " AND ") \
  X(Or, '|', "or", " OR ") \
  X(Not, '!', "not", "NOT (") \
  X(JoinOn, 'j', "join", "(ON condition)") \
  X(Exists, 'e', "exists", "(EXISTS (")

enum class ASKeyTag : char {
#define AS_KEY_TAG_ENUM(tag, letter, name, sql) tag = letter,
  AS_KEY_TAGS(AS_KEY_TAG_ENUM)
#undef AS_KEY_TAG_ENUM
};

struct ASKeyTagInfo {
  ASKeyTag tag;
  const char* name;
  const char* sql;
};

inline constexpr ASKeyTagInfo kASKeyTags[] = {
#define AS_KEY_TAG_INFO(tag, letter, name, sql) {ASKeyTag::tag, name, sql},
    AS_KEY_TAGS(AS_KEY_TAG_INFO)
#undef AS_KEY_TAG_INFO
};
// The SQL of a tag (the table's entry; an unknown tag has none).
constexpr const char* ASKeySql(ASKeyTag t) {
  for (const ASKeyTagInfo& i : kASKeyTags)
    if (i.tag == t) return i.sql;
  return "";
}

constexpr bool ASKeyTagsUnique() {
  constexpr size_t n = sizeof kASKeyTags / sizeof kASKeyTags[0];
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j)
      if (kASKeyTags[i].tag == kASKeyTags[j].tag) return false;
  return true;
}
static_assert(ASKeyTagsUnique(), "two key tags share a letter");
