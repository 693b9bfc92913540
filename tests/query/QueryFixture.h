// Tables and a database per test for the query-library tests, on every backend.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ASQuery.h"
#include "TestDb.h"

// One column of every value type, behind an auto-increment key.
struct item_domain : ASDomain {
  item_domain() : ASDomain("qt_item") {
    AddIndex("qt_item_name", {&name});
    AddIndex("qt_item_time", {&time, &item_id});
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

// Rows hanging off items, without a key of their own.
struct tag_domain : ASDomain {
  tag_domain() : ASDomain("qt_tag") { AddIndex("qt_tag_item", {&item_id}); }
  ASAttribute item_id{this, "item_id", AS_INT};
  ASAttribute label{this, "label", AS_VSTR};
};
struct tag : ASTable<tag_domain> {
  tag() { BindValues({&item_id, &label}); }
  ASInt item_id;
  ASVStr label;
};

// Several rows per group, newest has the highest key.
struct step_domain : ASDomain {
  step_domain() : ASDomain("qt_step") { AddIndex("qt_step_group", {&group_id, &step_id}); }
  ASAttribute step_id{this, "step_id", AS_INT, AS_COL_AUTOINC};
  ASAttribute group_id{this, "group_id", AS_INT};
  ASAttribute note{this, "note", AS_VSTR};
};
struct step : ASTable<step_domain> {
  step() { BindValues({&step_id, &group_id, &note}); }
  ASInt step_id;
  ASInt group_id;
  ASVStr note;
};

class QueryTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    url = jrxtest::freshDatabaseUrl(GetParam());
    db = ASDatabase::Open(url);
    s = db->Session();
    s->CreateTable(item_domain());
    s->CreateTable(tag_domain());
    s->CreateTable(step_domain());
  }

  // Inserts an item with a name and a number; returns its key.
  long long addItem(const std::string& name, int num = 0, int time = 0) {
    item t;
    t.name = name;
    t.num = num;
    t.time = time;
    s->Insert(t);
    return s->GetInsertId();
  }

  // Rows selected by projecting `column` under `where` (which names the same table object).
  long long count(const ASAttribute& column, const ASComparison& where = ASComparison()) {
    ASCursor c(s);
    c.Project() << column;
    c.Set(where);
    long long n = 0;
    while (c.Fetch()) ++n;
    return n;
  }

  std::string url;
  std::shared_ptr<ASDatabase> db;
  ASSession* s = nullptr;
};
