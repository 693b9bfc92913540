#include <climits>

#include "QueryFixture.h"

namespace {

using Values = QueryTest;

const std::string kNul("a\0b", 3);

TEST_P(Values, EveryTypeRoundTrips) {
  const std::string blob("\0\x01\xff\0zz", 6), bin("\0\xff'\\", 4);
  const Guid guid(0x0123456789abcdefULL, 0xfedcba9876543210ULL);
  item t;
  t.name = kNul;
  t.num = INT_MIN;
  t.big = LLONG_MAX;
  t.time = INT_MAX;
  t.eid = guid;
  t.data = RealBlob(blob.size(), blob.data(), false);
  t.bin = bin;
  t.real = -2.5e-300;
  s->Insert(t);
  const std::string first = std::to_string(s->GetInsertId());
  t.num = INT_MAX;
  t.big = LLONG_MIN;
  t.time = INT_MIN;
  t.real = 0.1;
  t.data = RealBlob(0, "", true);  // empty, not NULL
  for (ASValue* v : std::initializer_list<ASValue*>{&t.name, &t.eid, &t.bin}) v->SetNull();
  s->Insert(t);
  item none;  // nothing set: every column NULL
  s->Insert(none);

  item r;
  ASCursor c(s);
  c.Project() << r->item_id << r->name << r->num << r->big << r->time << r->eid << r->data
              << r->bin << r->real;
  c.Order(r->item_id);
  const std::string id2 = std::to_string(std::stoll(first) + 1), id3 = std::to_string(std::stoll(first) + 2);
  EXPECT_EQ(rows(c), (Rows{first + "|" + kNul + "|-2147483648|9223372036854775807|2147483647|" +
                               guid.Bytes() + "|" + blob + "|" + bin + "|-2.5e-300",
                           id2 + "|-|2147483647|-9223372036854775808|-2147483648|-||-|0.10000000000000001",
                           id3 + "|-|-|-|-|-|-|-|-"}));
  c.Close();  // runs it again
  ASSERT_TRUE(c.Fetch());
  EXPECT_EQ(r.eid.Guid(), guid);
  EXPECT_EQ(r.real.AsDouble(), -2.5e-300);
  EXPECT_EQ(r.big.Int().Value(), LLONG_MAX);
  r.eid = Guid();
  r.eid.SetBytes("short", 5);
  EXPECT_THROW(r.eid.Guid(), AException);
  EXPECT_EQ(Guid::FromBytes(guid.Bytes().data(), 16), guid);
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
      {r->name == 12, 0},      {r->name == "012", 1},  {r->num == 2.7, 1},
      {r->num == "2", 1},      {r->data == "abc", 1},  {r->bin == 7, 1},
      {r->real == 2, 1},       {r->real > 1.5, 1},
      {r->name.IsNull(), 0},   {r->eid.IsNull(), 1},   {r->num == std::string("3"), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(select(r->item_id, c.first).size(), c.second);

  // An update keeps the low 32 bits of what it sets in a 32-bit column.
  ASUpdater up(r);
  up << r->num.Set(0x1'2345'6789LL) << r->time.Set(-(1LL << 32) - 5) << r->big.Set(1LL << 40)
     << r->name.Set(2.5) << r->real.Set(3);
  EXPECT_EQ(up.Execute(s), 1);
  ASCursor c(s);
  c.Project() << r->num << r->time << r->big << r->name << r->real;
  EXPECT_EQ(rows(c), (Rows{"591751049|-5|1099511627776|2.500000|3"}));
}

// What goes beyond a column's width or the size of a row is refused before it is written;
// up to there, everything comes back whole.
TEST_P(Values, RowsUpToTheLimitRoundTrip) {
  const std::string indexed(3000, 'y'), text = std::string(70000, 'x') + kNul;
  // name, bin and data, and 8 bytes for each of the five other columns.
  std::string blob(AS_MAX_ROW_BYTES - indexed.size() - text.size() - 5 * 8, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 31 % 251);
  item t;
  t.name = indexed;
  t.bin = text;
  blob.push_back('z');
  t.data = RealBlob(blob.size(), blob.data(), false);
  EXPECT_THROW(s->Insert(t), AException);
  blob.pop_back();
  t.data = RealBlob(blob.size(), blob.data(), false);
  s->Insert(t);
  item r;
  ASUpdater up(r);
  EXPECT_THROW((up << r->bin.Set(std::string(AS_MAX_ROW_BYTES + 1, 'x'))).Execute(s), AException);
  ASCursor c(s);
  c.Project() << r->data << r->bin << r->name;
  c.Set(r->name == indexed);
  ASSERT_TRUE(c.Fetch());
  EXPECT_TRUE(r.data.Bytes() == blob && r.bin.Bytes() == text && r.name.Bytes() == indexed);

  coded k;
  k.code = "12345678";
  s->Insert(k);
  k.code = "123456789";
  EXPECT_THROW(s->Insert(k), AException);
  ASUpdater widen(k);
  widen << k->code.Set("123456789");
  EXPECT_THROW(widen.Execute(s), AException);
  EXPECT_EQ(select(k->code), (Rows{"12345678"}));
}

TEST_P(Values, HostileTextMatchesExactlyItself) {
  const Rows texts = {"it's", "back\\slash", "100%", "a;b", "x -- y", "' OR 1=1 --", "\"q\"",
                      "Grüße, 日本", kNul, std::string("\xff\xfe\x80", 3), "", "_%_",
                      "a\nb\r\tc", "\x1a end", "Case"};
  Rows ids;
  for (const auto& text : texts) {
    ids.push_back(std::to_string(addItem(text)));
    addTag(std::stoll(ids.back()), text);
  }
  addItem("it");
  addItem("case");
  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    item r;
    EXPECT_EQ(select(r->item_id, r->name == Str(texts[i])), Rows{ids[i]});
    // The same text bound inside a sub-select, and as a delete condition.
    tag sub;
    ASFilter f;
    f.Project() << sub->item_id;
    f.Set(sub->label == texts[i]);
    EXPECT_EQ(select(r->name, r->item_id.In(ASAttribute(f.Query()))), Rows{texts[i]});
    EXPECT_EQ(ASDeleter(r).Where(r->name == texts[i]).Execute(s), 1);
  }
  item q;
  EXPECT_EQ(select(q->name), (Rows{"it", "case"}));
}

QUERY_TEST_SUITE(Values);

}  // namespace
