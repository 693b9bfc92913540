#include <gtest/gtest.h>

#include <boost/intrusive_ptr.hpp>
#include <boost/make_shared.hpp>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXGUID.h"
#include "JRXInfo.h"
#include "JRXRecords.h"
#include "JRXRefCounter.h"

using namespace JRX;

TEST(GuidText, ParsesCanonicalBracedAndUpperCase) {
  JRXGUID g;
  ASSERT_EQ(0, g.fromString("0123abcd-4567-89ef-0011-223344556677"));
  unsigned long long first, second;
  g.getData(first, second);
  EXPECT_EQ(0x0123abcd456789efULL, first);
  EXPECT_EQ(0x0011223344556677ULL, second);
  EXPECT_EQ("0123abcd-4567-89ef-0011-223344556677", g.toString());

  JRXGUID braced, upper;
  ASSERT_EQ(0, braced.fromString("{0123ABCD-4567-89EF-0011-223344556677}"));
  ASSERT_EQ(0, upper.fromString("0123ABCD-4567-89EF-0011-223344556677"));
  EXPECT_EQ(g, braced);
  EXPECT_EQ(g, upper);
  EXPECT_EQ("0123abcd-4567-89ef-0011-223344556677", upper.toString());
}

TEST(GuidText, RefusesGarbageAndKeepsTheValue) {
  const JRXGUID before(0x1122334455667788LL, 0x0102030405060708LL);
  const char* bad[] = {
      "",
      "0123abcd-4567-89ef-0011-22334455667",     // one short
      "0123abcd-4567-89ef-0011-2233445566778",   // one long
      "0123abcd445674589ef-0011-223344556677",   // dash missing
      "0123abcg-4567-89ef-0011-223344556677",    // not hex
      "{0123abcd-4567-89ef-0011-223344556677",   // one brace
      "(0123abcd-4567-89ef-0011-223344556677)",  // wrong brackets
      " 0123abcd-4567-89ef-0011-223344556677",
      "0123abcd-4567-89ef-0011-22334455667\x80",
  };
  for (const char* text : bad) {
    JRXGUID g = before;
    EXPECT_NE(0, g.fromString(text)) << text;
    EXPECT_EQ(before, g) << text;
  }
  JRXGUID g = before;
  EXPECT_NE(0, g.fromString(nullptr));
  EXPECT_EQ(before, g);
}

TEST(GuidText, RoundTripsExtremesAndRandomValues) {
  for (JRXGUID g : {JRXGUID(), JRXGUID(-1, -1), JRXGUID(1, 0), JRXGUID(0, 1)}) {
    JRXGUID back(7, 7);
    ASSERT_EQ(0, back.fromString(g.toString().c_str()));
    EXPECT_EQ(g, back);
  }
  for (int i = 0; i < 100; ++i) {
    JRXGUID g = JRXGUID::generate();
    ASSERT_TRUE(g.isValid());
    std::string t = g.toString();
    EXPECT_EQ('4', t[14]) << t;  // version 4
    EXPECT_NE(std::string::npos, std::string("89ab").find(t[19])) << t;
    JRXGUID back;
    ASSERT_EQ(0, back.fromString(t.c_str()));
    EXPECT_EQ(g, back);
  }
  EXPECT_NE(JRXGUID::generate(), JRXGUID::generate());
  // The invalid identifier is the default one, all zeros.
  EXPECT_FALSE(JRXEID::EID_INVALID.isValid());
  EXPECT_EQ(JRXEID(), JRXEID::EID_INVALID);
  EXPECT_EQ("00000000-0000-0000-0000-000000000000", JRXEID::EID_INVALID.toString());
}

TEST(InfoRecord, ParameterOfARepeatedNameIsTheFirstAdded) {
  JRXInfo info("text");
  info.addParameter("env", "first");
  info.addParameter("a", "before");
  info.addParameter("env", "second");
  info.addParameter("z", "after");
  ASSERT_NE(nullptr, info.getParameter("env"));
  EXPECT_EQ("first", info.getParameter("env")->getText());
  EXPECT_EQ(2u, info.getParameters().count("env"));
  EXPECT_EQ(nullptr, info.getParameter("missing"));
  EXPECT_EQ(nullptr, info.getParameter("en"));
  EXPECT_EQ(nullptr, JRXInfo().getParameter("env"));
}

TEST(InfoRecord, RendersParametersIntoTheText) {
  JRXInfo info("VM {vm} on {host}: {missing} {{literal}} {unclosed");
  info.addParameter("vm", "web-1");
  JRXInfo& host = info.addParameter("host", JRXInfo("{name} ({ip})"));
  host.addParameter("name", "node-7");
  host.addParameter("ip", "10.0.0.1");
  EXPECT_EQ("VM web-1 on node-7 (10.0.0.1): {missing} {literal} {unclosed", info.toString());
  EXPECT_EQ("", JRXInfo().toString());
  // Without parameters there is nothing to fill in: the text stands as given.
  EXPECT_EQ("}}{{ {x}", JRXInfo("}}{{ {x}").toString());
  EXPECT_NE(JRXInfo("a}}b").toString(), JRXInfo("a}b").toString());
}

struct UpperTranslator {
  static std::string translate(const std::string& s) {
    std::string out = s;
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
  }
};

TEST(InfoRecord, TranslatorAppliesToEveryTextBeforeSubstitution) {
  JRXInfo info("state {STATE}");
  info.addParameter("STATE", "running");
  EXPECT_EQ("STATE RUNNING", info.toStringWithTranslator<UpperTranslator>());
}

TEST(RecordCopies, ProgressRecordCopiesEveryFieldIndependently) {
  JRXRequestProgressData a("req-1");
  a.parentId = "parent";
  a.info = JRXInfo("text", "id", false);
  a.info.addParameter("env", JRXInfo("e1")).addParameter("deep", "x");
  a.name = "vm.start";
  a.progress = 40;
  a.status = 2;
  a.time = 1701000000;
  a.operands.insert(JRXGUID::generate());
  a.sessionId = JRXSessionID("s-1");
  a.eid = JRXGUID::generate();

  JRXRequestProgressData b = a;
  EXPECT_EQ(a.info, b.info);
  EXPECT_EQ(a.operands, b.operands);
  EXPECT_EQ(a.eid, b.eid);
  b.info.getParameters().begin()->second.addParameter("more", "y");
  b.operands.insert(JRXGUID::generate());
  b.sessionId.text = "other";
  EXPECT_EQ(1u, a.info.getParameters().begin()->second.getParameters().size());
  EXPECT_EQ(1u, a.operands.size());
  EXPECT_EQ("s-1", a.sessionId.text);

  JRXRequestProgressData c;
  c = a;
  EXPECT_EQ("req-1", c.id);
  EXPECT_EQ(a.info, c.info);
}

TEST(RecordCopies, EventSharesOnlyItsPayload) {
  JRXEvent a("agent");
  EXPECT_EQ("agent", a.category);
  EXPECT_FALSE(a.data);
  a.sid = JRXSID({1, 2, 3});
  auto audit = boost::make_shared<JRXAuditEvent>();
  audit->detail = "login";
  a.data = audit;
  JRXEvent b = a;
  b.sid.data.push_back(4);
  b.info.setText("changed");
  EXPECT_EQ(3u, a.sid.data.size());
  EXPECT_EQ("", a.info.getText());
  EXPECT_EQ(a.data.get(), b.data.get());
}

TEST(Addresses, IPv6AndMappedIPv4) {
  JRXIPv6 a;
  ASSERT_EQ(0, a.fromString("2001:db8::1"));
  EXPECT_EQ("2001:db8::1", a.toString());
  EXPECT_EQ(0x20, a.bytes[0]);
  EXPECT_EQ(1, a.bytes[15]);

  JRXIPv6 v4;
  ASSERT_EQ(0, v4.fromString("192.168.1.20"));
  EXPECT_EQ("::ffff:192.168.1.20", v4.toString());
  EXPECT_EQ(0xff, v4.bytes[10]);
  EXPECT_EQ(20, v4.bytes[15]);

  JRXIPv6 keep = a;
  for (const char* bad : {"", "2001:db8::1::2", "300.1.1.1", "host", "1.2.3"}) {
    EXPECT_NE(0, keep.fromString(bad)) << bad;
    EXPECT_EQ(a, keep);
  }
  IPv6Format::SQLString sql(v4);
  EXPECT_EQ("::ffff:192.168.1.20", sql.text());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(v4.bytes), 16), sql.binary());
  EXPECT_EQ("::", IPv6Format::SQLString(JRXIPv6()).text());
}

TEST(Conversions, SecurityIdentifiersAsHex) {
  JRXSID sid({0x01, 0x02, 0xff, 0x00, 0xab});
  EXPECT_EQ("0102ff00ab", sidToSql(sid));
  EXPECT_EQ(sid, sqlToSid(Str("0102ff00ab")));
  EXPECT_EQ(sid, sqlToSid(Str("01-02:FF 00ab")));
  EXPECT_EQ(JRXSID({0x12}), sqlToSid(Str("12x")));
  EXPECT_EQ("", sidToSql(JRXSID()));
  EXPECT_TRUE(sqlToSid(Str("")).data.empty());
}

TEST(Conversions, GuidHalvesAsTheDatabaseGuid) {
  JRXGUID g(0x0123456789abcdefLL, -2);
  Guid d = guidToRDBMSGuid(g);
  EXPECT_EQ(0x0123456789abcdefULL, d.First());
  EXPECT_EQ(0xfffffffffffffffeULL, d.Second());
  EXPECT_EQ(JRXGUID(), rdbmsGuidToGuid(guidToRDBMSGuid(JRXEID::EID_INVALID)));
  // Through a column as well: the signed halves at their extremes.
  for (const JRXEID& eid : {JRXEID(g), JRXEID(0x0123456789abcdefLL, -1LL), JRXEID::EID_INVALID,
                            JRXEID(-9223372036854775807LL - 1, 1)}) {
    EXPECT_EQ(JRXEID(rdbmsGuidToGuid(guidToRDBMSGuid(eid))), eid);
    ASGuid column;
    column = guidToRDBMSGuid(eid);
    EXPECT_EQ(JRXEID(rdbmsGuidToGuid(column.Guid())), eid);
  }
}

namespace {
struct Counted : public virtual JRXRefCounter {
  explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
  Counted(const Counted& o) : JRXRefCounter(o), alive_(o.alive_) { ++*alive_; }
  ~Counted() override { --*alive_; }
  int* alive_;
};
}  // namespace

TEST(RefCounting, LastReleaseDeletesAndCopiesCountAfresh) {
  int alive = 0;
  boost::intrusive_ptr<Counted> a(new Counted(&alive));
  {
    boost::intrusive_ptr<Counted> b = a;
    EXPECT_EQ(2, a->refCount());
    Counted copy(*a);  // a copy is a new object with no references
    EXPECT_EQ(0, copy.refCount());
    EXPECT_EQ(2, alive);
  }
  EXPECT_EQ(1, a->refCount());
  a.reset();
  EXPECT_EQ(0, alive);
}
