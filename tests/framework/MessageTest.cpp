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
  EXPECT_NE(nullptr, buf);
  std::string out(buf, len);
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

JRXEvent sampleEvent() {
  JRXEvent e("agent");
  e.eid = JRXGUID::generate();
  e.time = -5;
  e.type = "audit";
  e.sid = JRXSID({0, 1, 0xff});
  e.code = -7;
  e.guid = JRXGUID::generate();
  e.info = sampleInfo();
  auto audit = boost::make_shared<JRXAuditEvent>();
  audit->session = "s-1";
  audit->address.fromString("2001:db8::1");
  audit->detail = "login";
  audit->kind = 4;
  e.data = audit;
  return e;
}

// A message with every kind of element field, values and nesting.
std::string sampleMessageBytes() {
  std::unique_ptr<JRXMessage> m(JRXMessage::getFactory()->createNew());
  m->setName("packet");
  JRXMessageIterator* it = m->getIterator();
  it->descend(1134);
  EXPECT_EQ(0, it->putObj(sampleInfo(), 0));
  it->ascend();
  it->descend(1612);
  it->setNamespace("urn:x");
  it->setType("urn:x", "thing");
  it->setNamespaceType(3);
  EXPECT_EQ(0, it->putObj(sampleEvent(), 0));
  return serialize(*m);
}

}  // namespace

TEST(Message, IteratorBuildsTheTree) {
  JRXMessage m;
  JRXMessageIterator* it = m.getIterator();
  it->ascend();  // at the root: stays
  it->descend(5);
  it->setNamespace(292);
  it->setType(292, 160);
  it->putInt(1, -3);
  it->putBytes(2, "abc");
  it->putBytes(2, "def");
  it->setNamespace(0);
  it->ascend();
  const JRXMessageElement& root = m.root();
  ASSERT_EQ(1u, root.children.size());
  const JRXMessageElement* e = root.child(5);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(0, e->ns);
  EXPECT_EQ(292, e->typeNs);
  EXPECT_EQ(160, e->type);
  EXPECT_EQ(2u, e->count(2));
  JRXMessageIterator c = m.getIterator()->child(5);
  long long i = 0;
  std::string s;
  EXPECT_EQ(0, c.getInt(1, i));
  EXPECT_EQ(-3, i);
  EXPECT_EQ(0, c.getBytes(2, s, 1));
  EXPECT_EQ("def", s);
  EXPECT_NE(0, c.getBytes(1, s));  // an integer, not bytes
  EXPECT_NE(0, c.getInt(9, i));
  EXPECT_FALSE(c.child(9).valid());
  EXPECT_NE(0, c.child(9).getInt(1, i));
}

TEST(Message, BinaryFormRoundTripsExactly) {
  std::string bytes = sampleMessageBytes();
  JRXMessage back;
  ASSERT_EQ(0, back.load(bytes.data(), bytes.size(), 0));
  EXPECT_EQ("packet", back.getName());
  EXPECT_EQ(bytes, serialize(back));

  JRXInfo info;
  ASSERT_EQ(0, back.getIterator()->getObj(info, 1134));
  EXPECT_EQ(sampleInfo(), info);
  const JRXMessageElement* e = back.root().child(1612);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ("urn:x", e->nsName);
  EXPECT_EQ("thing", e->typeName);
  EXPECT_EQ(292, e->typeNs);  // putObj typed it after the named type
  EXPECT_EQ(160, e->type);
  EXPECT_EQ(3, e->nsType);
}

TEST(Message, RecordsComeBackEqual) {
  JRXMessage m;
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
  JRXEvent plain = sampleEvent();
  plain.data.reset();
  JRXMessageIterator* it = m.getIterator();
  ASSERT_EQ(0, it->putObj(p, 1175));
  ASSERT_EQ(0, it->putObj(sampleEvent(), 1612));
  ASSERT_EQ(0, it->putObj(plain, 1612));

  std::string bytes = serialize(m);
  JRXMessage back;
  ASSERT_EQ(0, back.load(bytes.data(), bytes.size(), 0));
  JRXRequestProgressData p2;
  ASSERT_EQ(0, back.getIterator()->getObj(p2, 1175));
  EXPECT_EQ(p.id, p2.id);
  EXPECT_EQ(p.parentId, p2.parentId);
  EXPECT_EQ(p.info, p2.info);
  EXPECT_EQ(p.name, p2.name);
  EXPECT_EQ(p.progress, p2.progress);
  EXPECT_EQ(p.status, p2.status);
  EXPECT_EQ(p.time, p2.time);
  EXPECT_EQ(p.operands, p2.operands);
  EXPECT_EQ(p.sessionId, p2.sessionId);
  EXPECT_EQ(p.eid, p2.eid);

  JRXEvent e = sampleEvent();
  JRXEvent e2, e3;
  ASSERT_EQ(0, back.getIterator()->getObj(e2, 1612, 0));
  ASSERT_EQ(0, back.getIterator()->getObj(e3, 1612, 1));
  EXPECT_NE(0, back.getIterator()->getObj(e3, 1612, 2));
  EXPECT_EQ(e.eid.isValid(), e2.eid.isValid());
  EXPECT_EQ(e.time, e2.time);
  EXPECT_EQ(e.category, e2.category);
  EXPECT_EQ(e.type, e2.type);
  EXPECT_EQ(e.sid, e2.sid);
  EXPECT_EQ(e.code, e2.code);
  EXPECT_EQ(e.info, e2.info);
  auto audit = boost::dynamic_pointer_cast<JRXAuditEvent>(e2.data);
  ASSERT_TRUE(audit);
  EXPECT_EQ(*boost::dynamic_pointer_cast<JRXAuditEvent>(e.data), *audit);
  EXPECT_FALSE(e3.data);
}

TEST(AnyData, AuditPayloadComesBackAsAuditEvent) {
  auto audit = boost::make_shared<JRXAuditEvent>();
  audit->session = std::string("s\0x", 3);
  audit->address.fromString("10.1.2.3");
  audit->detail = "logout \xfe";
  audit->kind = 12;
  boost::shared_ptr<JRXEventData> payload = audit;

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
  EXPECT_EQ(*audit, *back);

  JRXAnyData other(1308);
  EXPECT_NE(0, other.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

namespace {
struct UnregisteredData : JRXEventData {};
}  // namespace

TEST(AnyData, NamesDecideTheTypeRead) {
  EXPECT_STREQ("JRXAuditEvent",
               JRXDerivedParserFactory<JRXEventData>::instance().byType(typeid(JRXAuditEvent))->name());
  // A type nobody registered is written as the registry's default type and reads back so.
  JRXAnyData d(1307);
  boost::shared_ptr<JRXEventData> unknown = boost::make_shared<UnregisteredData>();
  ASSERT_EQ(0, JRXWriterDerived<JRXEventData>().putObject(d.any(), 1913, unknown));
  boost::shared_ptr<JRXEventData> asBase;
  ASSERT_EQ(0, JRXReaderDerived<JRXEventData>(false).getObject(d.any(), 1913, asBase));
  ASSERT_TRUE(asBase);
  const JRXEventData& read = *asBase;
  EXPECT_EQ(typeid(JRXEventData), typeid(read));
  EXPECT_NE(0, JRXWriterDerived<JRXEventData>().putObject(d.any(), 1914, nullptr));

  // A stored name without parser: the base type with the default, nothing without it.
  JRXMessage m;
  JRXMessageIterator* it = m.getIterator();
  it->descend(1913);
  it->putBytes(1, "SomethingNewer");
  it->descend(2);
  it->putInt(1, 5);
  boost::shared_ptr<JRXEventData> out;
  EXPECT_NE(0, JRXReaderDerived<JRXEventData>(false).getObject(*m.getIterator(), 1913, out));
  EXPECT_FALSE(out);
  ASSERT_EQ(0, JRXReaderDerived<JRXEventData>(true).getObject(*m.getIterator(), 1913, out));
  ASSERT_TRUE(out);
  EXPECT_FALSE(boost::dynamic_pointer_cast<JRXAuditEvent>(out));

  // A payload that says it is an audit event but misses fields leaves the pointer as it was.
  JRXMessage bad;
  it = bad.getIterator();
  it->descend(1913);
  it->putBytes(1, "JRXAuditEvent");
  it->descend(2);
  it->putBytes(1, "session only");
  boost::shared_ptr<JRXEventData> keep = out;
  EXPECT_NE(0, JRXReaderDerived<JRXEventData>(true).getObject(*bad.getIterator(), 1913, keep));
  EXPECT_EQ(out.get(), keep.get());
}

TEST(MessageInput, TruncationsAreRefused) {
  std::string bytes = sampleMessageBytes();
  for (size_t n = 0; n < bytes.size(); ++n) {
    JRXMessage m;
    EXPECT_NE(0, m.load(bytes.data(), n, 0)) << n;
    EXPECT_TRUE(m.root().children.empty());
  }
  std::string longer = bytes + "x";
  JRXMessage m;
  EXPECT_NE(0, m.load(longer.data(), longer.size(), 0));
  EXPECT_NE(0, m.load(nullptr, 10, 0));
}

TEST(MessageInput, EveryFlippedBitIsRefused) {
  std::string bytes = sampleMessageBytes();
  for (size_t bit = 0; bit < bytes.size() * 8; ++bit) {
    std::string flipped = bytes;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    // Bits of the flags and version fields only change what the header says.
    if (bit / 8 >= 5 && bit / 8 < 13) continue;
    JRXMessage m;
    EXPECT_NE(0, m.load(flipped.data(), flipped.size(), 0)) << bit;
  }
}

namespace {

// Rewrites the body checksum so that corrupted bodies reach the structure reader.
void fixChecksum(std::string& b);

uint32_t crc(const std::string& s, size_t from) {
  uint32_t c = 0xffffffffu;
  for (size_t i = from; i < s.size(); ++i) {
    c ^= static_cast<unsigned char>(s[i]);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xffffffffu;
}

void fixChecksum(std::string& b) {
  if (b.size() < 21) return;
  uint32_t c = crc(b, 21);
  for (int i = 0; i < 4; ++i) b[17 + i] = static_cast<char>((c >> (8 * i)) & 0xff);
}

}  // namespace

TEST(MessageInput, CorruptBodiesWithValidChecksumsNeverCrash) {
  std::string bytes = sampleMessageBytes();
  std::mt19937 rng(7);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string b = bytes;
    int changes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < changes; ++k) {
      size_t at = 21 + rng() % (b.size() - 21);
      switch (rng() % 3) {
        case 0: b[at] = static_cast<char>(rng()); break;
        case 1: b[at] = static_cast<char>(0xff); break;
        default: b.erase(at, 1 + rng() % 8); break;
      }
      if (b.size() <= 21) break;
    }
    fixChecksum(b);
    JRXMessage m;
    if (m.load(b.data(), b.size(), 0) == 0) {
      ++accepted;
      // Whatever was accepted is a well-formed message that serialises again.
      std::string again = serialize(m);
      JRXMessage m2;
      EXPECT_EQ(0, m2.load(again.data(), again.size(), 0));
      JRXEvent e;
      JRXInfo info;
      m.getIterator()->getObj(e, 1612);
      m.getIterator()->getObj(info, 1134);
    } else {
      EXPECT_TRUE(m.root().children.empty());
    }
  }
  EXPECT_LT(accepted, 3000);
}

TEST(MessageInput, RandomInputsAreRefused) {
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    std::string b(rng() % 200, '\0');
    for (char& c : b) c = static_cast<char>(rng());
    if (round % 2 && b.size() >= 5) b.replace(0, 5, std::string("JRXM\x01", 5));
    JRXMessage m;
    EXPECT_NE(0, m.load(b.data(), b.size(), 0));
    JRXAnyData d(1307);
    EXPECT_NE(0, d.deserialize(b.data(), static_cast<uint32_t>(b.size())));
  }
}

TEST(MessageInput, HugeCountsAndDeepNestingAreRefused) {
  // A child count far beyond the input.
  JRXMessage m;
  m.getIterator()->putInt(1, 1);
  std::string b = serialize(m);
  // root: id(4) mask(1) kind(1) count(4) at the end of name STR (4 + 0 bytes)
  size_t countAt = 21 + 4 + 4 + 1 + 1;
  for (int i = 0; i < 4; ++i) b[countAt + i] = '\xff';
  fixChecksum(b);
  EXPECT_NE(0, m.load(b.data(), b.size(), 0));

  JRXMessage deep;
  JRXMessageIterator* it = deep.getIterator();
  for (int i = 0; i < 5000; ++i) it->descend(1);
  char* buf = nullptr;
  uint32_t len = 0;
  EXPECT_NE(0, deep.serialize(&buf, &len, 0, 40500));
  EXPECT_EQ(nullptr, buf);
}
