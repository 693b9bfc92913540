#include <algorithm>
#include <climits>

#include "ASFaults.h"
#include "ASTableCopy.h"
#include "QueryFixture.h"

namespace {

// "sqlite_mariadb": from a database of the first kind into one of the second.
std::vector<std::string> directions() {
  std::vector<std::string> out;
  for (const std::string& from : jrxtest::backends())
    for (const std::string& to : jrxtest::backends()) out.push_back(from + "_" + to);
  return out;
}

const char kOddBytes[] = "quote ' \" back\\slash \0 NUL \xff\xfe invalid \xc3";
const std::string kOddText(kOddBytes, sizeof kOddBytes - 1);

class TableCopy : public ::testing::TestWithParam<std::string> {
 protected:
  // Items with every kind of value, NULLs, each number type's extremes and the texts that go
  // wrong most easily, keys with gaps, the newest deleted; tags identical across page
  // boundaries, a page ending in rows of one item but two labels, and NULLs in the order.
  void SetUp() override {
    fromDb = openWithTables(jrxtest::freshDatabaseUrl(GetParam().substr(0, GetParam().find('_'))));
    from = fromDb->Session();
    toDb = openWithTables(targetUrl());
    to = toDb->Session();
    for (int i = 0; i < 12; ++i) {
      item t;
      if (i % 4 != 3) {
        t.name = kOddText + std::to_string(i);
        t.num = i % 2 ? INT_MIN : INT_MAX;
        t.big = i % 2 ? LLONG_MIN : LLONG_MAX - i;
        t.time = 1701000000 + i;
        t.eid = Guid(0xffffffffffffff00ull + i, i);
        t.data = RealBlob(kOddText.size(), kOddText.data(), true);
        t.bin = std::string("\0\x01\x80", 3);
        t.real = -1.0 / (i + 3);
      }
      from->Insert(t);
    }
    item t;
    ASDeleter(t).Where(t->item_id == 5 || t->item_id >= 11).Execute(from);
    for (int i = 0; i < 7; ++i) addTag(from, 2, "same");
    for (int i = 0; i < 3; ++i)
      addTag(from, 1, std::string("a\0b", 3) + std::to_string((i + 1) / 2));
    addTag(from, 3, nullptr);
    addTag(from, 0, nullptr);
    addTag(from, 3, "after the NULL");
  }

  std::string targetUrl() const {
    return jrxtest::freshDatabaseUrl(GetParam().substr(GetParam().find('_') + 1));
  }

  // A new database of the target's kind holding `table`.
  std::shared_ptr<ASDatabase> fresh(const ASDomain& table, const std::string& prefix = "") const {
    auto db = ASDatabase::Open(prefix + targetUrl());
    db->Session()->CreateTable(table);
    return db;
  }

  static Rows all(ASSession* s, ASDomain& d) {
    ASCursor c(s);
    for (size_t i = 0; i < d.Size(); ++i) c.Project() << d.Attribute(i);
    for (size_t i = 0; i < d.Size(); ++i) c.Order(d.Attribute(i));
    return rows(c);
  }

  std::shared_ptr<ASDatabase> fromDb, toDb;
  ASSession* from = nullptr;
  ASSession* to = nullptr;
};

// Pages walk the key on from where the last ended (a sort per page would cost the square of the
// table's size); the target's new keys come above the source's; a reading copy sees one picture.
TEST_P(TableCopy, CopiesEveryRowAndValueAsStored) {
  item i;
  tag g;
  EXPECT_FALSE(ASTableExists(to, ASDomain("qt_absent")) ||
               ASTableHasRows(to, ASDomain("qt_absent")));
  EXPECT_TRUE(ASTableExists(to, g) && !ASTableHasRows(to, g) && ASCountRows(to, g) == 0);
  for (const char* code : {"b", "a", "a'", "Z"}) {
    coded t;
    t.code = code;
    t.text = kOddText + code;
    from->Insert(t);
  }
  for (int n : {7, -3, 12, 0}) {
    numbered t;
    t.n = n;
    t.note = kOddText;
    from->Insert(t);
  }
  coded c;
  numbered m;
  ASTransaction read(from, AS_TRAN_READ);
  EXPECT_EQ(ASCountRows(from, g), 13);
  tag later;
  ASDatabase::Open(fromDb->Url())->Session()->Insert(later);
  // Digests are the same on every machine and in every version: an operator compares what
  // one copy printed with what a later one prints.
  const std::pair<ASDomain*, const char*> tables[] = {
      {&i, "1fd379baff18d30ee15389bf81c71548"}, {&g, "7a94a7f1c7153a9f93c7a9fc96929605"},
      {&c, "5c12136212e7dff21479432aee50f90b"}, {&m, "1db612f800d5384d548217d3d6f70499"}};
  for (const auto& [d, pinned] : tables) {
    SCOPED_TRACE(d->TableName());
    ASCopyOptions options;
    options.batchRows = 3;  // pages end inside runs of identical rows
    long long progress = -1;
    options.progress = [&](long long n) { progress = n; };
    std::vector<ASPlan> plans;
    from->RecordPlans(&plans);
    const ASTableDigest copied = ASCopyTable(from, to, *d, options);
    from->RecordPlans(nullptr);
    EXPECT_EQ(all(to, *d), all(from, *d));
    EXPECT_EQ(ASDigestTable(to, *d), copied);
    EXPECT_EQ(ASDigestTable(from, *d), copied);
    EXPECT_EQ(copied.checksum, pinned);
    EXPECT_EQ(progress, copied.rows);
    ASSERT_GE(plans.size(), 2u);
    for (const ASPlan& p : plans) {
      if (d == &g || p.sql.find(" FROM " + d->TableName()) == std::string::npos) continue;
      EXPECT_FALSE(p.steps.empty()) << p.sql;
      for (const ASPlanStep& step : p.steps)
        EXPECT_FALSE(step.sorts) << p.sql << "\n" << step.detail;
    }
  }
  read.Commit();
  EXPECT_TRUE(ASTableHasRows(to, g) && ASCountRows(to, g) == 13 && ASCountRows(from, g) == 14);
  // The texts still compare as texts on the target.
  EXPECT_EQ(valuesOf(to, i->name, i->name == kOddText + "0"), Rows{kOddText + "0"});
  item added;
  to->Insert(added);
  EXPECT_EQ(to->GetInsertId(), 13);  // 11 and 12 were deleted at the source
  // A table whose rows were all deleted keeps its counter too.
  ASDeleter(i).Where(i->item_id > 0).Execute(from);
  auto other = fresh(i);
  EXPECT_EQ(ASCopyTable(from, other->Session(), i).rows, 0);
  other->Session()->Insert(added);
  EXPECT_EQ(other->Session()->GetInsertId(), 13);
}

// Each statement of a copy failing in turn: the error is the database's, the target holds whole
// batches only, the source is untouched, and a fresh copy then comes out whole.
TEST_P(TableCopy, EveryStatementFailingInTurnLeavesWholeBatches) {
  auto source = ASDatabase::Open("fault:" + fromDb->Url());
  item i;
  tag g;
  for (ASDomain* d : std::initializer_list<ASDomain*>{&i, &g}) {
    SCOPED_TRACE(d->TableName());
    const Rows stored = all(from, *d);
    Rows sorted = stored;
    std::sort(sorted.begin(), sorted.end());
    ASCopyOptions options;
    options.batchRows = 3;
    const ASTableDigest clean = ASCopyTable(from, to, *d, options);
    for (int n = 1;; ++n) {
      SCOPED_TRACE("statement " + std::to_string(n) + " failing");
      auto target = fresh(*d, "fault:");
      long long committed = 0;
      options.progress = [&](long long rows) { committed = rows; };
      ASFaults::Clear();
      ASFaults::FailStatement(n, "", "copy failed on purpose");
      const std::string e =
          caught([&] { ASCopyTable(source->Session(), target->Session(), *d, options); }).what();
      const bool reached = ASFaults::StatementsSeen() >= n;
      ASFaults::Clear();
      EXPECT_EQ(e, reached ? "copy failed on purpose" : "none");
      if (!reached) break;
      // Whole batches: as many rows as the committed batches told, each one of the source's.
      Rows copied = all(target->Session(), *d);
      EXPECT_EQ(copied.size(), static_cast<size_t>(committed));
      std::sort(copied.begin(), copied.end());
      EXPECT_TRUE(std::includes(sorted.begin(), sorted.end(), copied.begin(), copied.end()));
      EXPECT_EQ(all(from, *d), stored);
      auto whole = fresh(*d);
      options.progress = nullptr;
      EXPECT_EQ(ASCopyTable(source->Session(), whole->Session(), *d, options), clean);
      EXPECT_EQ(all(whole->Session(), *d), stored);
      if (HasFailure()) break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Db, TableCopy, ::testing::ValuesIn(directions()), jrxtest::BackendName());

}  // namespace
