#include <gtest/gtest.h>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXGUID.h"
#include "JRXInfo.h"
#include "JRXRecords.h"

using namespace JRX;

TEST(GuidText, ParsesOnlyTheCanonicalForms) {
  const JRXGUID g(0x0123abcd456789efLL, 0x0011223344556677LL), before(1, 2);
  for (const char* text : {"0123abcd-4567-89ef-0011-223344556677",
                           "{0123ABCD-4567-89EF-0011-223344556677}"}) {
    JRXGUID read = before;
    EXPECT_EQ(0, read.fromString(text));
    EXPECT_EQ(g, read) << ::testing::PrintToString(text);
  }
  EXPECT_EQ("0123abcd-4567-89ef-0011-223344556677", g.toString());
  for (const char* bad :
       {"", "0123abcd-4567-89ef-0011-2233445566778", "0123abcd445674589ef-0011-223344556677",
        "0123abcg-4567-89ef-0011-223344556677", "{0123abcd-4567-89ef-0011-223344556677",
        "(0123abcd-4567-89ef-0011-223344556677)", "0123abcd-4567-89ef-0011-22334455667\x80"}) {
    JRXGUID read = before;
    EXPECT_NE(0, read.fromString(bad)) << ::testing::PrintToString(bad);
    EXPECT_EQ(before, read);  // left as it was
  }
  EXPECT_NE(0, JRXGUID().fromString(nullptr));
  const std::string r = JRXGUID::generate().toString();  // of version 4, the standard variant
  EXPECT_TRUE(r[14] == '4' && std::string("89ab").find(r[19]) != std::string::npos) << r;
  EXPECT_EQ("ffffffff-ffff-ffff-0000-000000000000", JRXGUID(-1, 0).toString());
}

struct UpperTranslator {
  static std::string translate(const std::string& s) {
    std::string out = s;
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
  }
};

// Parameters fill in their names (the first of a repeated name), translated first; doubled
// braces stand for one; without parameters the text stands as given.
TEST(InfoRecord, ParametersAreRenderedIntoTheText) {
  JRXInfo info("VM {vm} on {host}: {missing} {{literal}} }}{vm} {unclosed");
  info.addParameter("vm", "web-1");
  info.addParameter("host", JRXInfo("{name}")).addParameter("name", "node-7");
  info.addParameter("vm", "second");
  info.addParameter("VM", "up");
  EXPECT_EQ("VM web-1 on node-7: {missing} {literal} }web-1 {unclosed", info.toString());
  EXPECT_EQ("VM UP ON {HOST}: {MISSING} {LITERAL} }UP {UNCLOSED",
            info.toStringWithTranslator<UpperTranslator>());
  EXPECT_EQ("}}{{ {x}", JRXInfo("}}{{ {x}").toString());
  JRXInfo leading("{{x}} {v}");
  leading.addParameter("v", "1");
  EXPECT_EQ("{x} 1", leading.toString());
}

TEST(Conversions, AddressesIdentifiersAndGuids) {
  JRXIPv6 v4, keep;
  ASSERT_EQ(0, v4.fromString("2001:db8::1"));
  EXPECT_EQ("2001:db8::1", IPv6Format::SQLString(v4).text());
  ASSERT_EQ(0, v4.fromString("192.168.1.20"));  // nothing of the address before stays
  EXPECT_EQ("::ffff:192.168.1.20", IPv6Format::SQLString(v4).text());
  EXPECT_EQ(std::string("\0\0\0\0\0\0\0\0\0\0\xff\xff\xc0\xa8\x01\x14", 16),
            IPv6Format::SQLString(v4).binary());
  for (const char* bad : {"2001:db8::1::2", "300.1.1.1"})
    EXPECT_TRUE(keep.fromString(bad) != 0 && keep == JRXIPv6() && !(keep == v4)) << bad;

  JRXSID sid({0x01, 0x02, 0xff, 0x00, 0xab});
  EXPECT_EQ("0102ff00ab", sidToSql(sid));
  EXPECT_EQ(sid, sqlToSid(Str("01-02:FF 00ab")));
  EXPECT_EQ(JRXSID({0x12}), sqlToSid(Str("12x")));
  EXPECT_EQ(JRXSID({0x12}), sqlToSid(Str("x12")));

  Guid d = guidToRDBMSGuid(JRXGUID(0x0123456789abcdefLL, -2));
  EXPECT_EQ(0x0123456789abcdefULL, d.First());
  EXPECT_EQ(0xfffffffffffffffeULL, d.Second());
  const JRXEID extreme(-9223372036854775807LL - 1, -1);
  EXPECT_EQ(JRXEID(rdbmsGuidToGuid(guidToRDBMSGuid(extreme))), extreme);
}
