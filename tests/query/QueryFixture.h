// Tables and a fresh database per test for the query-library tests, on every backend.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "TestDb.h"

// One column of every value type, behind an auto-increment key.
struct item_domain : ASDomain {
  item_domain() : ASDomain("qt_item") {}
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("qt_item_name", {&name});
    x.Add("qt_item_time", {&time, &item_id});
  }
  ASAttribute item_id{this, "item_id", AS_INT, AS_COL_AUTOINC};
  ASAttribute name{this, "name", AS_VSTR};
  ASAttribute num{this, "num", AS_INT};
  ASAttribute big{this, "big", AS_INT64};
  ASAttribute time{this, "time", AS_TIME};
  ASAttribute eid{this, "eid", AS_GUID};
  ASAttribute data{this, "data", AS_BLOB};
  ASAttribute bin{this, "bin", AS_BINSTR};
  ASAttribute real{this, "real_value", AS_DOUBLE};
};
struct item : ASTable<item_domain> {
  item() { BindValues({&item_id, &name, &num, &big, &time, &eid, &data, &bin, &real}); }
  ASInt item_id;
  ASVStr name;
  ASInt num;
  ASInt64 big;
  ASTime time;
  ASGuid eid;
  ASRealBlob data;
  ASVStr bin{AS_BINSTR};
  ASDouble real;
};

// Rows of items, without a key of their own.
struct tag_domain : ASDomain {
  tag_domain() : ASDomain("qt_tag") {}
  void DeclareIndexes(ASIndexes& x) const override { x.Add("qt_tag_item", {&item_id}); }
  ASAttribute item_id{this, "item_id", AS_INT};
  ASAttribute label{this, "label", AS_VSTR};
};
struct tag : ASTable<tag_domain> {
  tag() { BindValues({&item_id, &label}); }
  ASInt item_id;
  ASVStr label;
};

// A natural key of a short code, and a unique text of any length.
struct coded_domain : ASDomain {
  coded_domain() : ASDomain("qt_code") { SetPrimaryKey({&code}); }
  void DeclareIndexes(ASIndexes& x) const override { x.Add("qt_code_text", {&text}, true); }
  ASAttribute code{this, "code", AS_VSTR, AS_COL_NOT_NULL, 8};
  ASAttribute text{this, "text", AS_VSTR};
};
struct coded : ASTable<coded_domain> {
  coded() { BindValues({&code, &text}); }
  ASVStr code;
  ASVStr text;
};

// A key of one integer column (on SQLite the rowid itself, which no index names).
struct numbered_domain : ASDomain {
  numbered_domain() : ASDomain("qt_numbered") { SetPrimaryKey({&n}); }
  ASAttribute n{this, "n", AS_INT};
  ASAttribute note{this, "note", AS_VSTR};
};
struct numbered : ASTable<numbered_domain> {
  numbered() { BindValues({&n, &note}); }
  ASInt n;
  ASVStr note;
};

// The database of `url`, holding the tables above.
inline std::shared_ptr<ASDatabase> openWithTables(const std::string& url) {
  auto db = ASDatabase::Open(url);
  ASSession* s = db->Session();
  s->CreateTable(item_domain());
  s->CreateTable(tag_domain());
  s->CreateTable(coded_domain());
  s->CreateTable(numbered_domain());
  return db;
}

// The exception `f` throws (one with the text "none" when it throws nothing).
template <class F>
AException caught(F&& f) {
  try {
    f();
  } catch (const AException& e) {
    return e;
  }
  return AException("none");
}

using Rows = std::vector<std::string>;
using ::testing::HasSubstr;

// Every row a cursor returns, its projected values joined by '|' ('-' for NULL).
inline Rows rows(ASCursor& c) {
  Rows out;
  const auto& attrs = c.Projection().Attributes();
  while (c.Fetch()) {
    out.emplace_back();
    for (size_t i = 0; i < attrs.size(); ++i) {
      const ASValue& v = attrs[i]->Domain()->Value(attrs[i]->Index());
      out.back() += (i ? "|" : "") + (v.IsNull() ? std::string("-") : v.Str().str());
    }
  }
  return out;
}

// The values of `column` in the rows where `where` holds, in the order of its table's first
// column.
inline Rows valuesOf(ASSession* s, const ASAttribute& column,
                     const ASComparison& where = ASComparison()) {
  ASCursor c(s);
  c.Project() << column;
  c.Set(where).Order(column.Domain()->Attribute(0));
  return rows(c);
}

// A tag of item `item` (a nullptr label: NULL).
template <class Label>
void addTag(ASSession* s, int item, const Label& label) {
  tag g;
  g.item_id = item;
  g.label = label;
  s->Insert(g);
}

class QueryTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    url = jrxtest::freshDatabaseUrl(GetParam());
    db = openWithTables(url);
    s = db->Session();
  }

  long long addItem(const std::string& name, int num = 0, int time = 0) {
    item t;
    t.name = name;
    t.num = num;
    t.time = time;
    s->Insert(t);
    return s->GetInsertId();
  }

  std::string url;
  std::shared_ptr<ASDatabase> db;
  ASSession* s = nullptr;
};

#define QUERY_TEST_SUITE(name)                                                 \
  INSTANTIATE_TEST_SUITE_P(Db, name, ::testing::ValuesIn(jrxtest::backends()), \
                           jrxtest::BackendName())
