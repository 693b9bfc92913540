// Stored forms of framework values: information records in their binary form and event
// payloads; what cannot be read leaves the target alone.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstdint>
#include <string>

#include "JRXMessage.h"
#include "store/ValueEncodings.h"

using namespace JRX;
using namespace JRX::logdb;

namespace {

TEST(InfoForms, RoundTripBothWaysAndRefuseWhatIsNoRecord) {
  JRXInfo info("VM {vm} moved to {node}", "msg.move", false), node("node-7");
  node.addParameter("eid", "0a0b0c0d-0000-4000-8000-00000000002a");
  info.addParameter("node", node);
  info.addParameter("env", "first");
  info.addParameter("env", std::string("sec\0ond", 7));
  info.addParameter("odd", std::string("\xff\xfe'\"\\", 5));
  std::string bytes;
  ASSERT_EQ(putInfoToBinary(info, bytes), 0);
  JRXInfo fromBinary, direct;
  ASSERT_EQ(getInfoFromBinary(bytes.data(), bytes.size(), fromBinary), 0);
  EXPECT_EQ(fromBinary, info);

  // The binary form is an ordinary framework message: root "packet", the record in 1134.
  JRXMessage msg, other;
  ASSERT_EQ(msg.load(bytes.data(), bytes.size(), 0), 0);
  EXPECT_EQ(msg.getName(), "packet");
  EXPECT_EQ(msg.getIterator()->getObj(direct, 1134), 0);
  EXPECT_EQ(direct, info);

  other.setName("packet");
  other.getIterator()->putInt(7, 42);
  char* raw = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(other.serialize(&raw, &len, 0, 40500), 0);
  const std::string without1134(raw, len);
  free(raw);
  const JRXInfo untouched("keep me");
  JRXInfo out = untouched;
  EXPECT_EQ(getInfoFromBinary(nullptr, 10, out), -6);
  EXPECT_EQ(getInfoFromBinary("garbage!", 8, out), -5);
  EXPECT_EQ(getInfoFromBinary(without1134.data(), without1134.size(), out), -5);
  EXPECT_EQ(out, untouched);
}

TEST(EventPayload, ComesBackAsItsOwnTypeOrLeavesThePayloadAlone) {
  auto audit = boost::make_shared<JRXAuditEvent>();
  audit->session = "s-'1\"\\";
  ASSERT_EQ(audit->address.fromString("2001:db8::1"), 0);
  audit->detail = std::string("login\0failed", 12);
  audit->kind = 3;
  std::string bytes, unused;
  ASSERT_EQ(putEventDataToBinary(audit, bytes), 0);
  EXPECT_NE(putEventDataToBinary(nullptr, unused), 0);
  boost::shared_ptr<JRXEventData> back;
  getEventDataFromBinary(bytes.data(), bytes.size(), back);
  auto readAudit = boost::dynamic_pointer_cast<JRXAuditEvent>(back);
  ASSERT_TRUE(readAudit);
  EXPECT_EQ(*readAudit, *audit);
  // The any-data container is of type 1307 with the payload in element 1913.
  JRXAnyData any(1307);
  ASSERT_EQ(any.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  EXPECT_NE(any.any().element()->child(1913), nullptr);

  // Unreadable bytes (of any kind: fuzz/fuzz_stored_values.cpp) leave the payload alone.
  const boost::shared_ptr<JRXEventData> original = boost::make_shared<JRXAuditEvent>();
  boost::shared_ptr<JRXEventData> out = original;
  getEventDataFromBinary(nullptr, 0, out);
  getEventDataFromBinary(bytes.data(), bytes.size() - 1, out);
  EXPECT_EQ(out, original);
}

}  // namespace
