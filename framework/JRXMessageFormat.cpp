#include "JRXMessageFormat.h"

#include <cstring>
#include <limits>

namespace JRX {
namespace msgformat {

namespace {

enum : uint8_t {
  F_NS = 0x01,
  F_NS_NAME = 0x02,
  F_TYPE = 0x04,
  F_TYPE_NS = 0x08,
  F_TYPE_NAME = 0x10,
  F_TYPE_NS_NAME = 0x20,
  F_NS_TYPE = 0x40,
  F_ALL = 0x7f,
};

const size_t kMinElementSize = 4 + 1 + 1 + 4;

struct Failure {
  int code;
};

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  void u8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  }
  void i32(int v) { u32(static_cast<uint32_t>(v)); }
  void i64(long long v) {
    uint64_t u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<char>((u >> (8 * i)) & 0xff));
  }
  void str(const std::string& s) {
    if (s.size() > std::numeric_limits<uint32_t>::max()) throw Failure{TOO_BIG};
    u32(static_cast<uint32_t>(s.size()));
    out_.append(s);
  }
  void element(const JRXMessageElement& e, int depth) {
    if (depth > kMaxElementDepth) throw Failure{TOO_DEEP};
    i32(e.id);
    uint8_t mask = 0;
    if (e.ns != 0) mask |= F_NS;
    if (!e.nsName.empty()) mask |= F_NS_NAME;
    if (e.type != 0) mask |= F_TYPE;
    if (e.typeNs != 0) mask |= F_TYPE_NS;
    if (!e.typeName.empty()) mask |= F_TYPE_NAME;
    if (!e.typeNsName.empty()) mask |= F_TYPE_NS_NAME;
    if (e.nsType != 0) mask |= F_NS_TYPE;
    u8(mask);
    if (mask & F_NS) i32(e.ns);
    if (mask & F_NS_NAME) str(e.nsName);
    if (mask & F_TYPE) i32(e.type);
    if (mask & F_TYPE_NS) i32(e.typeNs);
    if (mask & F_TYPE_NAME) str(e.typeName);
    if (mask & F_TYPE_NS_NAME) str(e.typeNsName);
    if (mask & F_NS_TYPE) i32(e.nsType);
    u8(e.kind);
    if (e.kind == JRXMessageElement::INT) i64(e.i);
    else if (e.kind == JRXMessageElement::BYTES) str(e.bytes);
    if (e.children.size() > std::numeric_limits<uint32_t>::max()) throw Failure{TOO_BIG};
    u32(static_cast<uint32_t>(e.children.size()));
    for (const auto& c : e.children) element(*c, depth + 1);
  }

 private:
  std::string& out_;
};

class Reader {
 public:
  Reader(const unsigned char* p, size_t n) : p_(p), n_(n) {}
  size_t remaining() const { return n_ - pos_; }
  void need(size_t k) const {
    if (k > remaining()) throw Failure{TRUNCATED};
  }
  uint8_t u8() {
    need(1);
    return p_[pos_++];
  }
  uint32_t u32() {
    need(4);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p_[pos_ + i]) << (8 * i);
    pos_ += 4;
    return v;
  }
  int i32() { return static_cast<int>(u32()); }
  long long i64() {
    need(8);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p_[pos_ + i]) << (8 * i);
    pos_ += 8;
    return static_cast<long long>(v);
  }
  std::string str() {
    uint32_t len = u32();
    need(len);
    std::string s(reinterpret_cast<const char*>(p_ + pos_), len);
    pos_ += len;
    return s;
  }
  void element(JRXMessageElement& e, int depth) {
    if (depth > kMaxElementDepth) throw Failure{TOO_DEEP};
    e.id = i32();
    uint8_t mask = u8();
    if (mask & ~F_ALL) throw Failure{MALFORMED};
    if (mask & F_NS) e.ns = i32();
    if (mask & F_NS_NAME) e.nsName = str();
    if (mask & F_TYPE) e.type = i32();
    if (mask & F_TYPE_NS) e.typeNs = i32();
    if (mask & F_TYPE_NAME) e.typeName = str();
    if (mask & F_TYPE_NS_NAME) e.typeNsName = str();
    if (mask & F_NS_TYPE) e.nsType = i32();
    uint8_t kind = u8();
    if (kind == JRXMessageElement::INT) {
      e.i = i64();
    } else if (kind == JRXMessageElement::BYTES) {
      e.bytes = str();
    } else if (kind != JRXMessageElement::NONE) {
      throw Failure{MALFORMED};
    }
    e.kind = static_cast<JRXMessageElement::Kind>(kind);
    uint32_t count = u32();
    if (count > remaining() / kMinElementSize) throw Failure{TRUNCATED};
    e.children.reserve(count);
    for (uint32_t k = 0; k < count; ++k) {
      e.children.push_back(std::make_unique<JRXMessageElement>());
      e.children.back()->parent = &e;
      element(*e.children.back(), depth + 1);
    }
  }

 private:
  const unsigned char* p_;
  size_t n_;
  size_t pos_ = 0;
};

uint32_t readU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t crc32(const void* data, size_t size) {
  static const uint32_t* table = [] {
    static uint32_t t[256];
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xffffffffu;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) c = table[(c ^ p[i]) & 0xff] ^ (c >> 8);
  return c ^ 0xffffffffu;
}

int encode(const std::string& name, const JRXMessageElement& root, uint32_t flags,
           uint32_t version, std::string& out) {
  try {
    std::string body;
    Writer bw(body);
    bw.str(name);
    bw.element(root, 0);
    if (body.size() > std::numeric_limits<uint32_t>::max()) return TOO_BIG;
    out.clear();
    out.reserve(kHeaderSize + body.size());
    out.append("JRXM", 4);
    Writer hw(out);
    hw.u8(1);
    hw.u32(flags);
    hw.u32(version);
    hw.u32(static_cast<uint32_t>(body.size()));
    hw.u32(crc32(body.data(), body.size()));
    out.append(body);
    return OK;
  } catch (const Failure& f) {
    return f.code;
  }
}

int decode(const char* data, size_t size, std::string& name, JRXMessageElement& root) {
  if (!data) return size == 0 ? TRUNCATED : MALFORMED;
  if (size < kHeaderSize) return TRUNCATED;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  if (std::memcmp(p, "JRXM", 4) != 0 || p[4] != 1) return BAD_MAGIC;
  uint32_t bodyLength = readU32(p + 13);
  if (bodyLength > size - kHeaderSize) return TRUNCATED;
  if (bodyLength < size - kHeaderSize) return MALFORMED;
  if (crc32(p + kHeaderSize, bodyLength) != readU32(p + 17)) return BAD_CHECKSUM;
  try {
    Reader r(p + kHeaderSize, bodyLength);
    std::string n = r.str();
    JRXMessageElement e;
    r.element(e, 0);
    if (r.remaining() != 0) return MALFORMED;
    name = std::move(n);
    root.children.clear();
    root = std::move(e);
    for (auto& c : root.children) c->parent = &root;
    root.parent = nullptr;
    return OK;
  } catch (const Failure& f) {
    return f.code;
  } catch (const std::bad_alloc&) {
    return MALFORMED;
  }
}

}  // namespace msgformat
}  // namespace JRX
