#include <climits>
#include <cstring>

#include "QueryFixture.h"

namespace {

using Values = QueryTest;

const std::string kNul("a\0b", 3);

std::vector<std::string> hostileTexts() {
  return {"it's",       "back\\slash", "100%",         "a;b",        "x -- y",
          "' OR 1=1 --", "\"quoted\"",  "Grüße, 日本", kNul,         std::string("\xff\xfe\x80", 3),
          "",            "_%_",         "a\nb\r\tc",   "\x1a end",   "Case"};
}

TEST_P(Values, EveryTypeRoundTrips) {
  std::string blob("\0\x01\xff\0zz", 6);
  item t;
  t.name = kNul;
  t.num = INT_MIN;
  t.big = LLONG_MAX;
  t.time = INT_MAX;
  t.eid = Guid(0x0123456789abcdefULL, 0xfedcba9876543210ULL);
  t.data = RealBlob(blob.size(), blob.data(), false);
  t.bin = std::string("\0\xff'\\", 4);
  t.real = -2.5e-300;
  s->Insert(t);
  long long id = s->GetInsertId();
  EXPECT_GT(id, 0);

  item r;
  ASCursor c(s);
  c.Project() << r->item_id << r->name << r->num << r->big << r->time << r->eid << r->data
              << r->bin << r->real;
  c.Set(r->item_id == id);
  ASSERT_TRUE(c.Fetch());
  EXPECT_EQ(r.item_id.Int().Value(), id);
  EXPECT_EQ(r.name.Bytes(), kNul);
  EXPECT_EQ(r.name.Str().size(), 3u);
  EXPECT_EQ(r.num.Int().Value(), INT_MIN);
  EXPECT_EQ(r.big.AsInt64(), LLONG_MAX);
  EXPECT_EQ(r.time.Int().Value(), INT_MAX);
  EXPECT_EQ(r.eid.Guid(), Guid(0x0123456789abcdefULL, 0xfedcba9876543210ULL));
  ASSERT_EQ(r.data.size(), blob.size());
  EXPECT_EQ(0, std::memcmp(r.data.voidptr(), blob.data(), blob.size()));
  EXPECT_EQ(r.bin.Bytes(), std::string("\0\xff'\\", 4));
  EXPECT_DOUBLE_EQ(r.real.AsDouble(), -2.5e-300);
  EXPECT_FALSE(c.Fetch());
}

TEST_P(Values, NullsAndTimeLimits) {
  long long minTime = 0, maxTime = 0, wrapped = 0;
  {
    item t;
    t.time = INT_MIN;
    t.data.SetNull();
    s->Insert(t);
    minTime = s->GetInsertId();
  }
  {
    item t;
    t.time = INT_MAX;
    t.data = RealBlob(0, "", true);
    s->Insert(t);
    maxTime = s->GetInsertId();
  }
  {
    long long t64 = 0x1'2345'6789LL;  // beyond 32 bits: the low 32 bits are stored
    item t;
    t.time = static_cast<int>(t64);
    s->Insert(t);
    wrapped = s->GetInsertId();
  }
  auto read = [&](long long id, item& r) {
    ASCursor c(s);
    c.Project() << r->time << r->data << r->name << r->eid;
    c.Set(r->item_id == id);
    ASSERT_TRUE(c.Fetch());
  };
  item a, b, w;
  read(minTime, a);
  read(maxTime, b);
  read(wrapped, w);
  EXPECT_EQ(a.time.Int().Value(), INT_MIN);
  EXPECT_TRUE(a.data.IsNull());
  EXPECT_TRUE(a.name.IsNull());
  EXPECT_THROW(a.eid.Guid(), AException);
  EXPECT_EQ(b.time.Int().Value(), INT_MAX);
  EXPECT_FALSE(b.data.IsNull());
  EXPECT_EQ(b.data.size(), 0u);
  EXPECT_EQ(w.time.Int().Value(), 0x23456789);

  item q;
  EXPECT_EQ(count(q->item_id, q->data.IsNull()), 2);  // the NULL blob and the unset one
  EXPECT_EQ(count(q->item_id, q->time < 0), 1);
}

TEST_P(Values, LargeBlobsAndTexts) {
  std::string blob(3 << 20, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 31 % 251);
  std::string text(70000, 'x');
  text[100] = '\0';
  std::string indexed(3000, 'y');  // an indexed text column holds at least this much
  item t;
  t.data = RealBlob(blob.size(), blob.data(), true);
  t.bin = text;
  t.name = indexed;
  s->Insert(t);
  item r;
  ASCursor c(s);
  c.Project() << r->data << r->bin << r->name;
  c.Set(r->name == indexed);
  ASSERT_TRUE(c.Fetch());
  EXPECT_TRUE(r.data.Bytes() == blob);
  EXPECT_TRUE(r.bin.Bytes() == text);
  EXPECT_TRUE(r.name.Bytes() == indexed);
}

TEST_P(Values, HostileTextMatchesExactlyItself) {
  auto texts = hostileTexts();
  std::vector<long long> ids;
  for (const auto& t : texts) ids.push_back(addItem(t));
  addItem("it");
  addItem("case");

  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    item r;
    ASCursor c(s);
    c.Project() << r->item_id << r->name;
    c.Set(r->name == Str(texts[i]));
    ASSERT_TRUE(c.Fetch());
    EXPECT_EQ(r.item_id.Int().Value(), ids[i]);
    EXPECT_EQ(r.name.Bytes(), texts[i]);
    EXPECT_FALSE(c.Fetch());
  }

  // The same text through a sub-select and as a delete condition.
  const std::string evil = "' OR 1=1 --";
  tag g;
  for (long long id : ids) {
    g.item_id = static_cast<int>(id);
    g.label = id == ids[5] ? evil : std::string("plain");
    s->Insert(g);
  }
  {
    tag sub;
    ASFilter f;
    f.Project() << sub->item_id;
    f.Set(sub->label == Str(evil));
    item r;
    ASCursor c(s);
    c.Project() << r->name;
    c.Set(r->item_id.In(ASAttribute(f.Query())));
    ASSERT_TRUE(c.Fetch());
    EXPECT_EQ(r.name.Bytes(), evil);
    EXPECT_FALSE(c.Fetch());
  }
  item d;
  EXPECT_EQ(ASDeleter(d).Where(d->name == evil).Execute(s), 1);
  EXPECT_EQ(ASDeleter(d).Where(d->name == kNul).Execute(s), 1);
  EXPECT_EQ(count(d->item_id), static_cast<long long>(texts.size()));
}

INSTANTIATE_TEST_SUITE_P(Db, Values, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
