#include "JRXMessage.h"

#include <cstdlib>
#include <cstring>

#include "JRXMessageFormat.h"

namespace JRX {

// ----------------------------------------------------------------------------- elements

const JRXMessageElement* JRXMessageElement::child(int childId, size_t nth) const {
  for (const auto& c : children)
    if (c->id == childId && nth-- == 0) return c.get();
  return nullptr;
}

size_t JRXMessageElement::count(int childId) const {
  size_t n = 0;
  for (const auto& c : children)
    if (c->id == childId) ++n;
  return n;
}

bool JRXMessageElement::operator==(const JRXMessageElement& o) const {
  if (id != o.id || ns != o.ns || nsName != o.nsName || type != o.type || typeNs != o.typeNs ||
      typeName != o.typeName || typeNsName != o.typeNsName || nsType != o.nsType ||
      kind != o.kind || i != o.i || bytes != o.bytes || children.size() != o.children.size())
    return false;
  for (size_t k = 0; k < children.size(); ++k)
    if (*children[k] != *o.children[k]) return false;
  return true;
}

// ----------------------------------------------------------------------------- iterator

void JRXMessageIterator::descend(int childId) {
  if (!cur_) return;
  cur_->children.push_back(std::make_unique<JRXMessageElement>());
  JRXMessageElement* c = cur_->children.back().get();
  c->id = childId;
  c->parent = cur_;
  cur_ = c;
}

void JRXMessageIterator::ascend() {
  if (cur_ && cur_->parent) cur_ = cur_->parent;
}

void JRXMessageIterator::setNamespace(int ns) {
  if (!cur_) return;
  cur_->ns = ns;
  if (ns == 0) cur_->nsName.clear();
}

void JRXMessageIterator::setNamespace(const char* name) {
  if (!cur_) return;
  cur_->nsName = name ? name : "";
}

void JRXMessageIterator::setType(int ns, int type) {
  if (!cur_) return;
  cur_->typeNs = ns;
  cur_->type = type;
}

void JRXMessageIterator::setType(const char* ns, const char* type) {
  if (!cur_) return;
  cur_->typeNsName = ns ? ns : "";
  cur_->typeName = type ? type : "";
}

void JRXMessageIterator::setNamespaceType(int nsType) {
  if (cur_) cur_->nsType = nsType;
}

void JRXMessageIterator::putInt(int childId, long long v) {
  if (!cur_) return;
  descend(childId);
  cur_->kind = JRXMessageElement::INT;
  cur_->i = v;
  ascend();
}

void JRXMessageIterator::putBytes(int childId, const std::string& v) {
  if (!cur_) return;
  descend(childId);
  cur_->kind = JRXMessageElement::BYTES;
  cur_->bytes = v;
  ascend();
}

int JRXMessageIterator::getInt(int childId, long long& v, size_t nth) const {
  const JRXMessageElement* c = cur_ ? cur_->child(childId, nth) : nullptr;
  if (!c || c->kind != JRXMessageElement::INT) return -1;
  v = c->i;
  return 0;
}

int JRXMessageIterator::getBytes(int childId, std::string& v, size_t nth) const {
  const JRXMessageElement* c = cur_ ? cur_->child(childId, nth) : nullptr;
  if (!c || c->kind != JRXMessageElement::BYTES) return -1;
  v = c->bytes;
  return 0;
}

JRXMessageIterator JRXMessageIterator::child(int childId, size_t nth) const {
  const JRXMessageElement* c = cur_ ? cur_->child(childId, nth) : nullptr;
  return JRXMessageIterator(const_cast<JRXMessageElement*>(c));
}

// ----------------------------------------------------------------------------- message

const JRXMessage::Factory* JRXMessage::getFactory() {
  static const Factory factory;
  return &factory;
}

JRXMessage::JRXMessage()
    : root_(std::make_unique<JRXMessageElement>()),
      it_(std::make_unique<JRXMessageIterator>(root_.get())) {}

JRXMessage::~JRXMessage() = default;

JRXMessageIterator* JRXMessage::getIterator() {
  *it_ = JRXMessageIterator(root_.get());
  return it_.get();
}

int JRXMessage::serialize(char** buffer, uint32_t* length, int flags, int version) const {
  if (!buffer || !length) return msgformat::MALFORMED;
  *buffer = nullptr;
  *length = 0;
  std::string bytes;
  int r = msgformat::encode(name_, *root_, static_cast<uint32_t>(flags),
                            static_cast<uint32_t>(version), bytes);
  if (r != 0) return r;
  char* b = static_cast<char*>(std::malloc(bytes.size()));
  if (!b) return msgformat::TOO_BIG;
  std::memcpy(b, bytes.data(), bytes.size());
  *buffer = b;
  *length = static_cast<uint32_t>(bytes.size());
  return 0;
}

int JRXMessage::load(const char* data, size_t size, int /*flags*/) {
  std::string name;
  auto root = std::make_unique<JRXMessageElement>();
  int r = msgformat::decode(data, size, name, *root);
  if (r != 0) {
    root = std::make_unique<JRXMessageElement>();
    name.clear();
  }
  name_ = std::move(name);
  root_ = std::move(root);
  *it_ = JRXMessageIterator(root_.get());
  return r;
}

// ----------------------------------------------------------------------------- any-data

JRXAnyData::JRXAnyData(int type) : type_(type) {}

int JRXAnyData::serialize(char** buffer, uint32_t* length) const {
  if (!buffer || !length) return msgformat::MALFORMED;
  *buffer = nullptr;
  *length = 0;
  char* msg = nullptr;
  uint32_t msgLength = 0;
  int r = msg_.serialize(&msg, &msgLength, 0, 40500);
  if (r != 0) return r;
  if (msgLength > UINT32_MAX - 8) {
    std::free(msg);
    return msgformat::TOO_BIG;
  }
  char* b = static_cast<char*>(std::malloc(msgLength + 8));
  if (!b) {
    std::free(msg);
    return msgformat::TOO_BIG;
  }
  std::memcpy(b, "JRXA", 4);
  uint32_t t = static_cast<uint32_t>(type_);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<char>((t >> (8 * i)) & 0xff);
  std::memcpy(b + 8, msg, msgLength);
  std::free(msg);
  *buffer = b;
  *length = msgLength + 8;
  return 0;
}

int JRXAnyData::deserialize(const char* data, uint32_t length) {
  if (!data || length < 8) {
    msg_.load(nullptr, 0, 0);
    return msgformat::TRUNCATED;
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  if (std::memcmp(p, "JRXA", 4) != 0) {
    msg_.load(nullptr, 0, 0);
    return msgformat::BAD_MAGIC;
  }
  uint32_t t = static_cast<uint32_t>(p[4]) | static_cast<uint32_t>(p[5]) << 8 |
               static_cast<uint32_t>(p[6]) << 16 | static_cast<uint32_t>(p[7]) << 24;
  if (static_cast<int>(t) != type_) {
    msg_.load(nullptr, 0, 0);
    return msgformat::BAD_TYPE;
  }
  return msg_.load(data + 8, length - 8, 0);
}

}  // namespace JRX
