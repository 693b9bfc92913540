// The letters of a statement's shape key (ASShapeKey), one for each thing the SQL text of a
// statement depends on, with the SQL it stands for. Keys are compared, never parsed, and
// each tag stands at a place the tags before it fix, so a letter needs to be unique only for
// the key to be readable when a test prints it; every letter is unique all the same.
#pragma once

#include <cstddef>

enum class ASKeyTag : char {
  // Statements.
  Insert = 'I',
  Update = 'U',
  Delete = 'X',
  Select = 'S',
  SelectDistinct = 'D',
  // Clauses; None stands for a clause a statement does not have.
  None = '-',
  Where = 'W',
  Limit = 'L',
  Offset = 'O',
  Ascending = 'A',
  Descending = 'Z',
  ForUpdate = 'F',
  ForShare = 'H',
  ForUpdateSkipLocked = 'K',
  // Tables, on their first appearance in a statement.
  Table = 'T',
  LeftJoinedTable = 'J',
  // Operands and embedded SQL.
  Column = 'c',
  Value = 'v',
  Subselect = 's',
  RawSql = 'r',
  Fragment = 'f',
  Alias = '\x01',  // an alias token inside a fragment's text (kASAliasOpen)
  // Conditions.
  Equal = '=',
  NotEqual = '#',
  Less = '<',
  Greater = '>',
  LessEqual = '{',
  GreaterEqual = '}',
  IsNull = 'n',
  In = 'i',
  NotIn = 'o',
  And = '&',
  Or = '|',
  Not = '!',
  JoinOn = 'j',
  Exists = 'e',
};

struct ASKeyTagInfo {
  ASKeyTag tag;
  const char* name;
  const char* sql;  // what the tag puts into the statement's text; a dialect's own in ()
};

inline constexpr ASKeyTagInfo kASKeyTags[] = {
    {ASKeyTag::Insert, "insert", "INSERT INTO "},
    {ASKeyTag::Update, "update", "UPDATE "},
    {ASKeyTag::Delete, "delete", "DELETE FROM "},
    {ASKeyTag::Select, "select", "SELECT "},
    {ASKeyTag::SelectDistinct, "select distinct", "SELECT DISTINCT "},
    {ASKeyTag::None, "none", ""},
    {ASKeyTag::Where, "where", " WHERE "},
    {ASKeyTag::Limit, "limit", " LIMIT ?"},
    {ASKeyTag::Offset, "offset", " OFFSET ?"},
    {ASKeyTag::Ascending, "ascending", ""},
    {ASKeyTag::Descending, "descending", " DESC"},
    {ASKeyTag::ForUpdate, "for update", "(FOR UPDATE)"},
    {ASKeyTag::ForShare, "for share", "(LOCK IN SHARE MODE)"},
    {ASKeyTag::ForUpdateSkipLocked, "for update skip locked", "(FOR UPDATE SKIP LOCKED)"},
    {ASKeyTag::Table, "table", "table alias"},
    {ASKeyTag::LeftJoinedTable, "left joined table", " LEFT JOIN "},
    {ASKeyTag::Column, "column", "alias.column"},
    {ASKeyTag::Value, "value", "?"},
    {ASKeyTag::Subselect, "sub-select", "(SELECT ...)"},
    {ASKeyTag::RawSql, "raw SQL", "text as given"},
    {ASKeyTag::Fragment, "fragment", "text with aliases"},
    {ASKeyTag::Alias, "alias token", "tN"},
    {ASKeyTag::Equal, "equal", " = "},
    {ASKeyTag::NotEqual, "not equal", " <> "},
    {ASKeyTag::Less, "less", " < "},
    {ASKeyTag::Greater, "greater", " > "},
    {ASKeyTag::LessEqual, "less or equal", " <= "},
    {ASKeyTag::GreaterEqual, "greater or equal", " >= "},
    {ASKeyTag::IsNull, "is null", " IS NULL"},
    {ASKeyTag::In, "in", " IN ("},
    {ASKeyTag::NotIn, "not in", " NOT IN ("},
    {ASKeyTag::And, "and", " AND "},
    {ASKeyTag::Or, "or", " OR "},
    {ASKeyTag::Not, "not", "NOT ("},
    {ASKeyTag::JoinOn, "join", "(ON condition)"},
    {ASKeyTag::Exists, "exists", "(EXISTS ("},
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
