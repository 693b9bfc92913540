// Stored forms of framework values: texts in blobs, times, information records in their
// binary form and event payloads.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "JRXConversions.h"
#include "JRXMessage.h"
#include "store/ValueEncodings.h"

using namespace JRX;
using namespace JRX::logdb;

namespace {

JRXInfo sampleInfo() {
  JRXInfo info("VM {vm} moved to {node}", "msg.move", false);
  info.addParameter("vm", "web-1");
  JRXInfo node("node-7");
  node.addParameter("eid", "0a0b0c0d-0000-4000-8000-00000000002a");
  info.addParameter("node", node);
  info.addParameter("env", "first");
  info.addParameter("env", std::string("sec\0ond", 7));
  info.addParameter("odd", std::string("\xff\xfe'\"\\", 5));
  return info;
}

TEST(TextBlob, CarriesItsNulAndReadsBackUpToIt) {
  RealBlob b = textBlob("abc");
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(std::string(static_cast<const char*>(b.data()), 4), std::string("abc\0", 4));

  RealBlob empty = textBlob("");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(static_cast<const char*>(empty.data())[0], '\0');

  ASRealBlob v;
  v = textBlob("hello");
  EXPECT_EQ(v.size(), 6u);
  EXPECT_EQ(blobText(v), "hello");

  // Bytes after a NUL are not part of the text; a NULL column is the empty text.
  v.SetBytes("ab\0cd", 5);
  EXPECT_EQ(blobText(v), "ab");
  ASRealBlob none;
  EXPECT_EQ(blobText(none), "");
}

TEST(Times, LowBitsInSignExtendedOut) {
  EXPECT_EQ(timeToSql((int64_t(1) << 32) + 5), 5);
  EXPECT_EQ(timeToSql(1701000000), 1701000000);
  EXPECT_EQ(timeToSql(-1), -1);
  ASTime t;
  t = -7;
  EXPECT_EQ(sqlToTime(t), -7);
  t = timeToSql(0x80000000LL);
  EXPECT_EQ(sqlToTime(t), -2147483648LL);
}

TEST(InfoText, RoundTripsOddRecords) {
  JRXInfo info = sampleInfo();
  std::string text;
  ASSERT_EQ(putInfoToString(info, text), 0);
  JRXInfo back;
  ASSERT_EQ(getInfoFromString(text.c_str(), back), 0);
  EXPECT_EQ(back, info);
  EXPECT_NE(getInfoFromString("{not json", back), 0);
  EXPECT_EQ(back, info);
}

TEST(InfoBinary, RoundTripsThroughElement1134OfAPacket) {
  JRXInfo info = sampleInfo();
  std::string bytes;
  ASSERT_EQ(putInfoToBinary(info, bytes), 0);
  ASSERT_FALSE(bytes.empty());

  JRXInfo back;
  ASSERT_EQ(getInfoFromBinary(bytes.data(), bytes.size(), back), 0);
  EXPECT_EQ(back, info);

  // The stored form is an ordinary framework message: root "packet", the record in 1134.
  JRXMessage msg;
  ASSERT_EQ(msg.load(bytes.data(), bytes.size(), 0), 0);
  EXPECT_EQ(msg.getName(), "packet");
  ASSERT_NE(msg.root().child(1134), nullptr);
  JRXInfo direct;
  EXPECT_EQ(msg.getIterator()->getObj(direct, 1134), 0);
  EXPECT_EQ(direct, info);
}

TEST(InfoBinary, RejectsWhatIsNotARecord) {
  JRXInfo untouched("keep me");
  JRXInfo out = untouched;
  EXPECT_EQ(getInfoFromBinary(nullptr, 10, out), -6);
  EXPECT_EQ(out, untouched);

  EXPECT_EQ(getInfoFromBinary("", 0, out), -5);
  EXPECT_EQ(getInfoFromBinary("garbage!", 8, out), -5);
  EXPECT_EQ(out, untouched);

  // A valid message without element 1134.
  JRXMessage msg;
  msg.setName("packet");
  msg.getIterator()->putInt(7, 42);
  char* raw = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(msg.serialize(&raw, &len, 0, 40500), 0);
  std::string other(raw, len);
  free(raw);
  EXPECT_EQ(getInfoFromBinary(other.data(), other.size(), out), -5);
  EXPECT_EQ(out, untouched);

  // Every truncation and every single flipped bit either fails cleanly or yields a record.
  std::string good;
  ASSERT_EQ(putInfoToBinary(sampleInfo(), good), 0);
  for (size_t n = 0; n < good.size(); ++n) {
    std::string cut = good.substr(0, n);
    JRXInfo r;
    EXPECT_NE(getInfoFromBinary(cut.data(), cut.size(), r), 0) << "truncated to " << n;
  }
  std::mt19937 rng(1134);
  for (int i = 0; i < 2000; ++i) {
    std::string bad = good;
    size_t bit = rng() % (bad.size() * 8);
    bad[bit / 8] = static_cast<char>(bad[bit / 8] ^ (1 << (bit % 8)));
    JRXInfo r;
    int rc = getInfoFromBinary(bad.data(), bad.size(), r);
    EXPECT_TRUE(rc == 0 || rc == -5) << rc;
  }
}

TEST(EventPayload, AuditPayloadComesBackAsItsOwnType) {
  auto audit = boost::shared_ptr<JRXAuditEvent>(new JRXAuditEvent());
  audit->session = "s-'1\"\\";
  ASSERT_EQ(audit->address.fromString("2001:db8::1"), 0);
  audit->detail = std::string("login\0failed", 12);
  audit->kind = 3;
  boost::shared_ptr<JRXEventData> payload = audit;

  std::string bytes;
  ASSERT_EQ(putEventDataToBinary(payload, bytes), 0);

  boost::shared_ptr<JRXEventData> back;
  getEventDataFromBinary(bytes.data(), bytes.size(), back);
  auto readAudit = boost::dynamic_pointer_cast<JRXAuditEvent>(back);
  ASSERT_TRUE(readAudit);
  EXPECT_EQ(*readAudit, *audit);

  // The any-data container is of type 1307 with the payload in element 1913.
  JRXAnyData any(1307);
  ASSERT_EQ(any.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  EXPECT_NE(any.any().element()->child(1913), nullptr);
}

TEST(EventPayload, UnreadableBytesLeaveThePayloadAsItWas) {
  boost::shared_ptr<JRXEventData> none;
  std::string unused;
  EXPECT_NE(putEventDataToBinary(none, unused), 0);

  auto original = boost::shared_ptr<JRXEventData>(new JRXAuditEvent());
  boost::shared_ptr<JRXEventData> out = original;
  getEventDataFromBinary(nullptr, 0, out);
  EXPECT_EQ(out, original);
  getEventDataFromBinary("", 0, out);
  EXPECT_EQ(out, original);
  getEventDataFromBinary("\x01\x02\x03", 3, out);
  EXPECT_EQ(out, original);

  std::string good;
  auto audit = boost::shared_ptr<JRXEventData>(new JRXAuditEvent());
  ASSERT_EQ(putEventDataToBinary(audit, good), 0);
  for (size_t n = 0; n < good.size(); ++n) {
    boost::shared_ptr<JRXEventData> r;
    getEventDataFromBinary(good.data(), n, r);
    EXPECT_FALSE(r) << "truncated to " << n;
  }
}

}  // namespace
