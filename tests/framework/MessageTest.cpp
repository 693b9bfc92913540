#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstdlib>
#include <random>

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

JRXInfo sampleInfo() {
  JRXInfo info("VM {vm} \xff", "id-1", false);
  info.addParameter("vm", "web-1");
  info.addParameter("env", JRXInfo("e1")).addParameter("eid", "0123abcd-4567-89ef-0011-223344556677");
  info.addParameter("env", JRXInfo("e2"));
  info.addParameter(std::string("n\0ul", 4), std::string("\0", 1));
  return info;
}

JRXEvent sampleEvent(bool withAudit) {
  JRXEvent e("agent");
  e.eid = JRXGUID::generate();
  e.time = -5;
  e.type = "audit";
  e.sid = JRXSID({0, 1, 0xff});
  e.code = -7;
  e.guid = JRXGUID::generate();
  e.info = sampleInfo();
  auto audit = boost::make_shared<JRXAuditEvent>();
  audit->session = std::string("s\0x", 3);
  audit->address.fromString("2001:db8::1");
  audit->detail = "login \xfe";
  audit->kind = 4;
  if (withAudit) e.data = audit;
  return e;
}

// A message with every kind of element field, value and nesting, and every record.
std::string messageOf(const JRXInfo& info, const JRXRequestProgressData& p, const JRXEvent& plain,
                      const JRXEvent& audited) {
  std::unique_ptr<JRXMessage> m(JRXMessage::getFactory()->createNew());
  m->setName("packet");
  JRXMessageIterator* it = m->getIterator();
  EXPECT_EQ(0, it->putObj(info, 1134));
  EXPECT_EQ(0, it->putObj(p, 1175));
  EXPECT_EQ(0, it->putObj(plain, 1612));
  it->descend(1612);
  it->setNamespace("urn:x");
  it->setType("urn:x", "thing");
  it->setNamespaceType(3);
  EXPECT_EQ(0, it->putObj(audited, 0));
  return serialize(*m);
}

std::string sampleMessageBytes() {
  JRXRequestProgressData p("req-1");
  p.parentId = "parent";
  p.info = sampleInfo();
  p.name = "vm.start";
  p.progress = 40;
  p.status = 2;
  p.time = (int64_t{1} << 40) + 3;
  p.operands = {JRXGUID::generate(), JRXGUID::generate(), JRXEID()};
  p.sessionId = JRXSessionID("s-9");
  p.eid = JRXGUID::generate();
  return messageOf(sampleInfo(), p, sampleEvent(false), sampleEvent(true));
}

}  // namespace

TEST(Message, IteratorReadsOnlyWhatIsThere) {
  JRXMessage m;
  JRXMessageIterator* it = m.getIterator();
  it->ascend();  // at the root: stays
  it->descend(5);
  it->putInt(1, -3);
  it->putBytes(2, "abc");
  it->putBytes(2, "def");
  it->ascend();
  JRXMessageIterator c = m.getIterator()->child(5);
  long long i = 0;
  std::string s;
  EXPECT_TRUE(m.root().children.size() == 1u && c.getInt(1, i) == 0 && i == -3);
  EXPECT_TRUE(c.getBytes(2, s, 1) == 0 && s == "def");
  EXPECT_TRUE(c.getBytes(1, s) && c.getInt(2, i) && c.getInt(9, i) && c.getBytes(2, s, 2));
  EXPECT_TRUE(!c.child(9).valid() && c.child(9).getInt(1, i));
}

// Everything written comes back: the records read from a loaded message write the same
// message again, byte for byte.
TEST(Message, RecordsAndTheirMessageRoundTripExactly) {
  const std::string bytes = sampleMessageBytes();
  JRXMessage back;
  ASSERT_EQ(0, back.load(bytes.data(), bytes.size(), 0));
  EXPECT_EQ("packet", back.getName());
  EXPECT_EQ(bytes, serialize(back));
  JRXMessage again;
  again.load(bytes.data(), bytes.size(), 0);
  EXPECT_TRUE(again.root() == back.root() && !(again.root() == JRXMessage().root()));
  const JRXMessageElement* e = back.root().child(1612, 1);
  ASSERT_NE(nullptr, e);
  EXPECT_TRUE(e->nsName == "urn:x" && e->typeName == "thing" && e->nsType == 3);
  EXPECT_TRUE(e->typeNs == 292 && e->type == 160);  // putObj typed it after the named type

  JRXInfo info;
  JRXRequestProgressData p;
  JRXEvent plain, audited, none;
  JRXMessageIterator* it = back.getIterator();
  ASSERT_EQ(0, it->getObj(info, 1134));
  ASSERT_EQ(0, it->getObj(p, 1175));
  ASSERT_EQ(0, it->getObj(plain, 1612, 0));
  ASSERT_EQ(0, it->getObj(audited, 1612, 1));
  EXPECT_NE(0, it->getObj(none, 1612, 2));
  EXPECT_EQ(bytes, messageOf(info, p, plain, audited));
}

namespace {
struct UnregisteredData : JRXEventData {};
}  // namespace

TEST(AnyData, PayloadsComeBackAsTheirRegisteredType) {
  boost::shared_ptr<JRXEventData> payload = sampleEvent(true).data;
  JRXAnyData out(1307);
  ASSERT_EQ(0, JRXWriterDerived<JRXEventData>().putObject(out.any(), 1913, payload));
  char* buf = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(0, out.serialize(&buf, &len));
  std::string bytes(buf, len);
  std::free(buf);
  JRXAnyData in(1307);
  ASSERT_EQ(0, in.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size())));
  boost::shared_ptr<JRXEventData> read;
  ASSERT_EQ(0, JRXReaderDerived<JRXEventData>(true).getObject(in.any(), 1913, read));
  auto back = boost::dynamic_pointer_cast<JRXAuditEvent>(read);
  ASSERT_TRUE(back);
  EXPECT_EQ(*boost::dynamic_pointer_cast<JRXAuditEvent>(payload), *back);
  EXPECT_NE(0, JRXAnyData(1308).deserialize(bytes.data(), static_cast<uint32_t>(bytes.size())));

  // A type nobody registered is written as the registry's default type and reads back so.
  JRXAnyData d(1307);
  ASSERT_EQ(0, JRXWriterDerived<JRXEventData>().putObject(
                   d.any(), 1913, boost::make_shared<UnregisteredData>()));
  boost::shared_ptr<JRXEventData> asBase;
  ASSERT_EQ(0, JRXReaderDerived<JRXEventData>(false).getObject(d.any(), 1913, asBase));
  const JRXEventData& base = *asBase;
  EXPECT_EQ(typeid(JRXEventData), typeid(base));
  EXPECT_NE(0, JRXWriterDerived<JRXEventData>().putObject(d.any(), 1914, nullptr));

  // A stored name without parser: the base type with the default, nothing without it; a
  // payload that misses fields leaves the pointer as it was.
  for (const char* name : {"SomethingNewer", "JRXAuditEvent"}) {
    JRXMessage m;
    JRXMessageIterator* it = m.getIterator();
    it->descend(1913);
    it->putBytes(1, name);
    it->descend(2);
    it->putBytes(1, "session only");
    boost::shared_ptr<JRXEventData> keep = asBase;
    EXPECT_NE(0, JRXReaderDerived<JRXEventData>(false).getObject(*m.getIterator(), 1913, keep));
    EXPECT_EQ(asBase, keep);
    const bool unknown = name[0] == 'S';
    EXPECT_EQ(unknown ? 0 : -1,
              JRXReaderDerived<JRXEventData>(true).getObject(*m.getIterator(), 1913, keep));
    EXPECT_EQ(unknown, keep != asBase && !boost::dynamic_pointer_cast<JRXAuditEvent>(keep));
  }
}

namespace {

// Rewrites the body checksum so that corrupted bodies reach the structure reader.
void fixChecksum(std::string& b) {
  if (b.size() < 21) return;
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
  std::string again = serialize(m);
  JRXEvent e;
  m.getIterator()->getObj(e, 1612);
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
  // Bodies with a valid checksum never crash the reader; random input is refused.
  std::mt19937 rng(7);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string b = bytes;
    for (int k = 0, changes = 1 + static_cast<int>(rng() % 4); k < changes && b.size() > 21; ++k) {
      size_t at = 21 + rng() % (b.size() - 21);
      if (rng() % 2)
        b[at] = static_cast<char>(rng() % 3 ? rng() : 0xff);
      else
        b.erase(at, 1 + rng() % 8);
    }
    fixChecksum(b);
    accepted += loads(b);
    std::string noise(rng() % 200, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    if (round % 2 && noise.size() >= 5) noise.replace(0, 5, std::string("JRXM\x01", 5));
    EXPECT_FALSE(loads(noise));
    EXPECT_NE(0, JRXAnyData(1307).deserialize(noise.data(), static_cast<uint32_t>(noise.size())));
  }
  EXPECT_LT(accepted, 3000);

  // A child count far beyond the input, and nesting beyond the limit.
  JRXMessage m;
  m.getIterator()->putInt(1, 1);
  std::string b = serialize(m);
  for (size_t at : {21, 21 + 4 + 4 + 1 + 1}) {  // the name's length, the root's child count
    std::string huge = b;
    huge.replace(at, 4, "\xff\xff\xff\xff");
    fixChecksum(huge);
    EXPECT_FALSE(loads(huge));
  }
  JRXMessage deep;
  JRXMessageIterator* it = deep.getIterator();
  for (int i = 0; i < 4096; ++i) it->descend(1);
  EXPECT_TRUE(loads(serialize(deep)));  // as deep as it may be
  it->descend(1);
  char* buf = nullptr;
  uint32_t len = 0;
  EXPECT_NE(0, deep.serialize(&buf, &len, 0, 40500));
  EXPECT_EQ(nullptr, buf);
}
