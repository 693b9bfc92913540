#include <climits>

#include "QueryFixture.h"

namespace {

using Values = QueryTest;

// Every type at its extremes, texts with NUL and quotes and longer than any first buffer, empty
// and NULL values.
TEST_P(Values, EveryTypeRoundTrips) {
  const std::string text = std::string("a\0'\\\"", 5) + std::string(70000, 'n');
  const std::string blob("\0\x01\xff\0zz", 6), bin("\0\xff'\\", 4);
  const Guid guid(0x0123456789abcdefULL, 0xfedcba9876543210ULL);
  item t;
  t.name = text;
  t.num = INT_MIN;
  t.big = LLONG_MAX;
  t.time = INT_MAX;
  t.eid = guid;
  t.data = RealBlob(blob.size(), blob.data(), false);
  t.bin = bin;
  t.real = -2.5e-300;
  s->Insert(t);
  t.num = INT_MAX;
  t.big = LLONG_MIN;
  t.time = INT_MIN;
  t.real = 0.1;
  t.data = RealBlob(0, "", true);  // empty, not NULL
  for (ASValue* v : std::initializer_list<ASValue*>{&t.eid, &t.bin}) v->SetNull();
  t.RemoveColumn(t->name);  // not written: NULL, whatever the member holds
  s->Insert(t);
  item none;  // naming no column: every one NULL
  for (size_t i = 1; i < none->Size(); ++i) none.RemoveColumn(none->Attribute(i));
  s->Insert(none);

  item r;
  const auto every = [&](ASCursor& c) -> ASCursor& {
    c.Project() << r->num << r->name << r->big << r->time << r->eid << r->data << r->bin << r->real;
    c.Order(r->item_id);
    return c;
  };
  ASCursor c(s);
  const Rows all = rows(every(c));
  EXPECT_EQ(all, (Rows{"-2147483648|" + text + "|9223372036854775807|2147483647|" +
                          guid.Bytes() + "|" + blob + "|" + bin + "|-2.5e-300",
                      "2147483647|-|-9223372036854775808|-2147483648|-||-|0.10000000000000001",
                      "-|-|-|-|-|-|-|-"}));
  c.Close();  // runs it again
  ASSERT_TRUE(c.Fetch() && r.eid.Guid() == guid && r.real.AsDouble() == -2.5e-300);
  // A select of one row reads it into the members without a row buffer (on MariaDB inside a
  // transaction without keeping the result aside): the same values, a NULL replacing what the
  // members held; it leaves the connection free at once, and reads its row again once closed.
  tag g;
  for (bool inTransaction : {true, false}) {
    ASTransaction tr(s);
    if (!inTransaction) tr.Commit();
    for (int offset : {0, 1, 2, 3}) {
      ASCursor one(s);
      every(one).Limit(1, offset);
      const Rows expected = offset < 3 ? Rows{all[offset]} : Rows{};
      EXPECT_EQ(rows(one), expected) << offset;
      s->Insert(g);
      r.name = "changed";
      one.Close();
      EXPECT_EQ(rows(one), expected) << offset;
    }
    if (inTransaction) tr.Commit();
  }
  // The same values as conditions find their row.
  EXPECT_EQ(valuesOf(s, r->num, r->name == Str(text.data(), text.size()) && r->eid == guid &&
                                    r->bin == bin && r->big == LLONG_MAX && r->time == INT_MAX),
            Rows{"-2147483648"});
}

// Values are bound as the type of the column they meet, whatever the operand's type.
TEST_P(Values, OperandsTakeTheColumnsType) {
  item t;
  t.name = "012";
  t.num = 2;
  t.data = RealBlob(3, "abc", true);
  t.bin = "7";
  t.real = 2;
  s->Insert(t);
  item r;
  const std::pair<ASComparison, size_t> cases[] = {
      {r->name == 12, 0},    {r->name == "012", 1}, {r->num == 2.7, 1}, {r->num == "2", 1},
      {r->data == "abc", 1}, {r->bin == 7, 1},      {r->real == 2, 1},  {r->real > 1.5, 1},
      {r->name.IsNull(), 0}, {r->eid.IsNull(), 1},  {r->num == std::string("3"), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(valuesOf(s, r->item_id, c.first).size(), c.second);

  // An update keeps the low 32 bits of what it sets in a 32-bit column.
  ASUpdater up(r);
  up << r->num.Set(0x1'2345'6789LL) << r->time.Set(-(1LL << 32) - 5) << r->big.Set(1LL << 40)
     << r->name.Set(2.5) << r->real.Set(3);
  EXPECT_EQ(up.Execute(s), 1);
  ASCursor c(s);
  c.Project() << r->num << r->time << r->big << r->name << r->real;
  EXPECT_EQ(rows(c), (Rows{"591751049|-5|1099511627776|2.500000|3"}));
}

QUERY_TEST_SUITE(Values);

}  // namespace
