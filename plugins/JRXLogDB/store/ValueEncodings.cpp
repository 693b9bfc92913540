#include "store/ValueEncodings.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "JRXMessage.h"

namespace JRX {
namespace logdb {

namespace {

const int kInfoElement = 1134;
const int kPayloadType = 1307;
const int kPayloadElement = 1913;
const int kSerializeFlags = 0;
const int kSerializeVersion = 40500;

// Buffers of the framework's serialisers come from malloc.
struct FreeBuffer {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

int putInfoToString(const JRXInfo& info, std::string& out) { return info.serializeToString(out); }

int getInfoFromString(const char* text, JRXInfo& out) { return out.deserializeFromString(text); }

int getInfoFromBinary(const void* data, size_t size, JRXInfo& out) {
  if (data == nullptr) return -6;
  std::unique_ptr<JRXMessage> msg(JRXMessage::getFactory()->createNew());
  if (!msg) return -13;
  if (msg->load(static_cast<const char*>(data), size, 0) != 0) return -5;
  JRXMessageIterator* it = msg->getIterator();
  if (it == nullptr) return -13;
  // Read aside so that a record that fails half way leaves the caller's one as it was.
  JRXInfo read;
  if (it->getObj(read, kInfoElement) != 0) return -5;
  out = read;
  return 0;
}

int putInfoToBinary(const JRXInfo& info, std::string& out) {
  std::unique_ptr<JRXMessage> msg(JRXMessage::getFactory()->createNew());
  if (!msg) return -13;
  msg->setName("packet");
  JRXMessageIterator* it = msg->getIterator();
  if (it == nullptr) return -13;
  it->descend(kInfoElement);
  it->putObj(info, 0);
  it->ascend();
  char* raw = nullptr;
  uint32_t length = 0;
  int r = msg->serialize(&raw, &length, kSerializeFlags, kSerializeVersion);
  std::unique_ptr<char, FreeBuffer> buffer(raw);
  if (r != 0) return r;
  if (!buffer) return -1;
  out.assign(buffer.get(), length);
  return 0;
}

int putEventDataToBinary(const boost::shared_ptr<JRXEventData>& data, std::string& out) {
  // An event without payload stores NULL; there is nothing to encode.
  if (!data) return -1;
  JRXAnyData any(kPayloadType);
  // Only the serialiser's result refuses a payload; what the writer could not put is missing
  // from the bytes and reads back as no payload.
  JRXWriterDerived<JRXEventData>().putObject(any.any(), kPayloadElement, data);
  char* raw = nullptr;
  uint32_t length = 0;
  int r = any.serialize(&raw, &length);
  std::unique_ptr<char, FreeBuffer> buffer(raw);
  if (r != 0) return r;
  if (!buffer) return -1;
  out.assign(buffer.get(), length);
  return 0;
}

void getEventDataFromBinary(const void* data, size_t size, boost::shared_ptr<JRXEventData>& out) {
  static const char empty[1] = {0};
  const char* bytes = data != nullptr ? static_cast<const char*>(data) : empty;
  JRXAnyData any(kPayloadType);
  // A payload that cannot be read leaves `out` as constructed; the reader guarantees that,
  // so neither result needs looking at.
  any.deserialize(bytes, static_cast<uint32_t>(data != nullptr ? size : 0));
  JRXReaderDerived<JRXEventData>(false).getObject(any.any(), kPayloadElement, out);
}

RealBlob textBlob(const std::string& text) {
  // c_str() carries the terminating NUL that readers stop at.
  return RealBlob(text.size() + 1, text.c_str(), true);
}

std::string blobText(const ASValue& blob) { return std::string(blobTextView(blob)); }

std::string_view blobTextView(const ASValue& blob) {
  if (blob.IsNull()) return std::string_view();
  const std::string& bytes = blob.Bytes();
  return std::string_view(bytes.data(), std::min(bytes.size(), bytes.find('\0')));
}

}  // namespace logdb
}  // namespace JRX
