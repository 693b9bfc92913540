#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstdlib>

#include "JRXMessage.h"

using namespace JRX;

namespace {

std::string serialize(const JRXMessage& m) {
  char* buf = nullptr;
  uint32_t len = 0;
  EXPECT_EQ(0, m.serialize(&buf, &len, 0, 40500));
  std::string out(buf ? buf : "", len);
  std::free(buf);
  return out;
}

// Every record with every field set; the event's payload an audit event when asked.
void putSamples(JRXMessageIterator& it, bool withAudit) {
  JRXInfo info("VM {vm} \xff", "id-1", false);
  info.addParameter("env", JRXInfo("e1")).addParameter("eid", "0123abcd-4567");
  info.addParameter("env", JRXInfo("e2"));
  info.addParameter(std::string("n\0ul", 4), std::string("\0", 1));
  JRXRequestProgressData p("req-1");
  p.parentId = "parent";
  p.info = info;
  p.name = "vm.start";
  p.progress = 40;
  p.status = 2;
  p.time = (int64_t{1} << 40) + 3;
  p.operands = {JRXGUID::generate(), JRXGUID::generate(), JRXEID()};
  p.sessionId = JRXSessionID("s-9");
  p.eid = JRXGUID::generate();
  JRXEvent e("agent");
  e.eid = JRXGUID::generate();
  e.time = -5;
  e.type = "audit";
  e.sid = JRXSID({0, 1, 0xff});
  e.code = -7;
  e.guid = JRXGUID::generate();
  e.info = info;
  auto audit = boost::make_shared<JRXAuditEvent>();
  audit->session = std::string("s\0x", 3);
  audit->address.fromString("2001:db8::1");
  audit->detail = "login \xfe";
  audit->kind = 4;
  if (withAudit) e.data = audit;
  EXPECT_EQ(0, it.putObj(info, 1134));
  EXPECT_EQ(0, it.putObj(p, 1175));
  EXPECT_EQ(0, it.putObj(e, 1612));
}

// An element with every field set, holding an integer.
void putTyped(JRXMessageIterator& it) {
  it.descend(9);
  it.setNamespace("urn:x");
  it.setType("urn:x", "thing");
  it.setNamespaceType(3);
  it.setNamespace(292);
  it.setType(292, 160);
  it.putInt(1, -3);
}

// A message with every kind of element field, value and nesting, and every record.
std::string sampleMessageBytes() {
  std::unique_ptr<JRXMessage> m(JRXMessage::getFactory()->createNew());
  m->setName("packet");
  JRXMessageIterator* it = m->getIterator();
  putSamples(*it, true);
  putTyped(*it);
  putSamples(*it, false);
  return serialize(*m);
}

}  // namespace

// The records read from a loaded message write it again, byte for byte.
TEST(Message, RecordsAndTheirMessageRoundTripExactly) {
  const std::string bytes = sampleMessageBytes();
  JRXMessage back;
  ASSERT_EQ(0, back.load(bytes.data(), bytes.size(), 0));
  EXPECT_EQ(bytes, serialize(back));
  long long i = 0;
  std::string text;  // only values of the asked kind are read
  EXPECT_TRUE(back.getIterator()->getBytes(1134, text) && back.getIterator()->getInt(1175, i));
  EXPECT_TRUE(back.getIterator()->child(9).getInt(1, i) == 0 && i == -3);

  JRXInfo info;
  JRXRequestProgressData p;
  JRXEvent e, none;
  std::unique_ptr<JRXMessage> copy(JRXMessage::getFactory()->createNew());
  copy->setName("packet");
  JRXMessageIterator* out = copy->getIterator();
  for (JRXMessageIterator in : {*back.getIterator(), back.getIterator()->child(9)}) {
    ASSERT_EQ(0, in.getObj(info, 1134) + in.getObj(p, 1175) + in.getObj(e, 1612));
    EXPECT_NE(0, in.getObj(none, 1612, 1));
    EXPECT_NE(0, JRXWriterDerived<JRXEventData>().putObject(*out, 9, nullptr));
    EXPECT_EQ(0, out->putObj(info, 1134));
    EXPECT_EQ(0, out->putObj(p, 1175));
    EXPECT_EQ(0, out->putObj(e, 1612));
    if (out->element() != &copy->root()) break;
    putTyped(*out);
  }
  EXPECT_EQ(bytes, serialize(*copy));
  EXPECT_TRUE(copy->root() == back.root() && back.root() != JRXMessage().root());
}

namespace {

// Rewrites the body checksum so that a changed body reaches the structure reader.
void fixChecksum(std::string& b) {
  uint32_t c = 0xffffffffu;
  for (size_t i = 21; i < b.size(); ++i) {
    c ^= static_cast<unsigned char>(b[i]);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
  }
  c ^= 0xffffffffu;
  for (int i = 0; i < 4; ++i) b[17 + i] = static_cast<char>((c >> (8 * i)) & 0xff);
}

// Loads `b`; a refused input leaves an empty message behind, an accepted one serialises.
bool loads(const std::string& b) {
  JRXMessage m;
  if (m.load(b.data(), b.size(), 0) != 0) {
    EXPECT_TRUE(m.root().children.empty() && m.getName().empty());
    return false;
  }
  const std::string again = serialize(m);
  return m.load(again.data(), again.size(), 0) == 0;
}

}  // namespace

TEST(MessageInput, DamagedInputIsRefused) {
  const std::string bytes = sampleMessageBytes();
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(loads(bytes.substr(0, n))) << n;
  EXPECT_FALSE(loads(bytes + "x"));
  EXPECT_NE(0, JRXMessage().load(nullptr, 10, 0));
  for (size_t bit = 0; bit < bytes.size() * 8; ++bit) {
    // Bits of the flags and version fields only change what the header says.
    if (bit / 8 >= 5 && bit / 8 < 13) continue;
    std::string flipped = bytes;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    EXPECT_FALSE(loads(flipped)) << bit;
  }
  // Lengths and counts far beyond the input; nesting as deep as it may be, and deeper.
  JRXMessage m;
  m.getIterator()->putInt(1, 1);
  for (size_t at : {21, 21 + 4 + 4 + 1 + 1}) {  // the name's length, the root's child count
    std::string huge = serialize(m);
    huge.replace(at, 4, "\xff\xff\xff\xff");
    fixChecksum(huge);
    EXPECT_FALSE(loads(huge));
  }
  JRXMessage deep;
  JRXMessageIterator* it = deep.getIterator();
  for (int i = 0; i < 4096; ++i) it->descend(1);
  EXPECT_TRUE(loads(serialize(deep)));
  it->descend(1);
  char* buf = nullptr;
  uint32_t len = 0;
  EXPECT_NE(0, deep.serialize(&buf, &len, 0, 40500));
  EXPECT_EQ(nullptr, buf);
}

// A typed container takes back only its own bytes: whole, with its mark, of its type; else it
// is left empty.
TEST(MessageInput, TypedContainersTakeOnlyTheirOwnBytes) {
  JRXAnyData any(0x01020304);
  any.any().putInt(1, 5);
  char* buf = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(0, any.serialize(&buf, &len));
  const std::string bytes(buf, len);
  std::free(buf);
  EXPECT_EQ(bytes.substr(0, 8), std::string("JRXA\x04\x03\x02\x01", 8));
  JRXAnyData back(0x01020304), other(0x01020305);
  long long v = 0;
  EXPECT_TRUE(back.deserialize(bytes.data(), len) == 0 && back.any().getInt(1, v) == 0 && v == 5);
  EXPECT_NE(0, other.deserialize(bytes.data(), len));
  std::string marked = bytes;
  marked[3] = 'B';
  for (const std::string& b : {bytes.substr(0, 7), marked, bytes.substr(0, len - 1)}) {
    back.deserialize(bytes.data(), len);
    EXPECT_NE(0, back.deserialize(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_NE(0, back.any().getInt(1, v));
  }
  EXPECT_NE(0, back.deserialize(nullptr, 8));
}
