// Message writers and readers of the framework records. Each record is a set of child
// elements of the element it is put into, one per field (ids below); repeated fields repeat
// their element. Identifiers are 16 bytes (first half, then second, each big-endian).
// Readers require every field they write and refuse values of the wrong kind or size, and
// fill the record only when everything was read.
#include <boost/make_shared.hpp>

#include "JRXMessage.h"

namespace JRX {

namespace {

// JRXInfo
enum { INFO_ID = 1, INFO_TEXT = 2, INFO_FLAG = 3, INFO_PARAM = 4, PARAM_NAME = 1, PARAM_VALUE = 2 };
// JRXRequestProgressData
enum {
  PD_ID = 1, PD_PARENT = 2, PD_INFO = 3, PD_NAME = 4, PD_PROGRESS = 5, PD_STATUS = 6,
  PD_TIME = 7, PD_OPERAND = 8, PD_SESSION = 9, PD_EID = 10
};
// JRXEvent
enum {
  EV_EID = 1, EV_TIME = 2, EV_CATEGORY = 3, EV_TYPE = 4, EV_SID = 5, EV_CODE = 6, EV_GUID = 7,
  EV_INFO = 8, EV_DATA = 9
};
// JRXAuditEvent
enum { AU_SESSION = 1, AU_ADDRESS = 2, AU_DETAIL = 3, AU_KIND = 4 };

std::string guidBytes(const JRXGUIDBase& g) {
  unsigned long long halves[2];
  g.getData(halves[0], halves[1]);
  std::string out(16, '\0');
  for (int h = 0; h < 2; ++h)
    for (int i = 0; i < 8; ++i)
      out[h * 8 + i] = static_cast<char>((halves[h] >> (56 - 8 * i)) & 0xff);
  return out;
}

template <class G>
int getGuid(const JRXMessageIterator& it, int id, G& out, size_t nth = 0) {
  std::string b;
  if (it.getBytes(id, b, nth) != 0 || b.size() != 16) return -1;
  unsigned long long halves[2] = {0, 0};
  for (int h = 0; h < 2; ++h)
    for (int i = 0; i < 8; ++i)
      halves[h] = halves[h] << 8 | static_cast<unsigned char>(b[h * 8 + i]);
  out = G(static_cast<long long>(halves[0]), static_cast<long long>(halves[1]));
  return 0;
}

int getInt32(const JRXMessageIterator& it, int id, int& out) {
  long long v;
  if (it.getInt(id, v) != 0 || v < INT32_MIN || v > INT32_MAX) return -1;
  out = static_cast<int>(v);
  return 0;
}

int getInt64(const JRXMessageIterator& it, int id, int64_t& out) {
  long long v;
  if (it.getInt(id, v) != 0) return -1;
  out = v;
  return 0;
}

int writeInfo(JRXMessageIterator& it, const JRXInfo& v, int depth) {
  if (depth > JRXInfo::kMaxDepth) return -1;
  it.putBytes(INFO_ID, v.getId());
  it.putBytes(INFO_TEXT, v.getText());
  it.putInt(INFO_FLAG, v.getFlag() ? 1 : 0);
  for (const auto& p : v.getParameters()) {
    it.descend(INFO_PARAM);
    it.putBytes(PARAM_NAME, p.first);
    it.descend(PARAM_VALUE);
    JRXInfo::Writer w;
    it.setNamespace(w.getNSID());
    it.setType(w.getNSID(), w.getTypeID());
    int r = writeInfo(it, p.second, depth + 1);
    it.ascend();
    it.ascend();
    if (r != 0) return r;
  }
  return 0;
}

int readInfo(const JRXMessageIterator& it, JRXInfo& out, int depth) {
  if (depth > JRXInfo::kMaxDepth || !it.valid()) return -1;
  JRXInfo v;
  std::string s;
  long long flag;
  if (it.getBytes(INFO_ID, s) != 0) return -1;
  v.setId(s);
  if (it.getBytes(INFO_TEXT, s) != 0) return -1;
  v.setText(s);
  if (it.getInt(INFO_FLAG, flag) != 0 || (flag != 0 && flag != 1)) return -1;
  v.setFlag(flag != 0);
  size_t n = it.element()->count(INFO_PARAM);
  for (size_t k = 0; k < n; ++k) {
    JRXMessageIterator param = it.child(INFO_PARAM, k);
    std::string name;
    JRXInfo value;
    if (param.getBytes(PARAM_NAME, name) != 0) return -1;
    if (readInfo(param.child(PARAM_VALUE), value, depth + 1) != 0) return -1;
    v.getParameters().insert(JRXInfo::Parameters::value_type(name, std::move(value)));
  }
  out = std::move(v);
  return 0;
}

}  // namespace

int JRXInfo::Writer::operator()(JRXMessageIterator& it, const JRXInfo& v) const {
  return writeInfo(it, v, 0);
}

int JRXInfo::Reader::operator()(const JRXMessageIterator& it, JRXInfo& v) const {
  return readInfo(it, v, 0);
}

int JRXRequestProgressData::Writer::operator()(JRXMessageIterator& it,
                                               const JRXRequestProgressData& v) const {
  it.putBytes(PD_ID, v.id);
  it.putBytes(PD_PARENT, v.parentId);
  int r = it.putObj(v.info, PD_INFO);
  if (r != 0) return r;
  it.putBytes(PD_NAME, v.name);
  it.putInt(PD_PROGRESS, v.progress);
  it.putInt(PD_STATUS, v.status);
  it.putInt(PD_TIME, v.time);
  for (const JRXEID& e : v.operands) it.putBytes(PD_OPERAND, guidBytes(e));
  it.putBytes(PD_SESSION, v.sessionId.text);
  it.putBytes(PD_EID, guidBytes(v.eid));
  return 0;
}

int JRXRequestProgressData::Reader::operator()(const JRXMessageIterator& it,
                                               JRXRequestProgressData& out) const {
  if (!it.valid()) return -1;
  JRXRequestProgressData v;
  if (it.getBytes(PD_ID, v.id) != 0 || it.getBytes(PD_PARENT, v.parentId) != 0 ||
      it.getObj(v.info, PD_INFO) != 0 || it.getBytes(PD_NAME, v.name) != 0 ||
      getInt32(it, PD_PROGRESS, v.progress) != 0 || getInt32(it, PD_STATUS, v.status) != 0 ||
      getInt64(it, PD_TIME, v.time) != 0 || it.getBytes(PD_SESSION, v.sessionId.text) != 0 ||
      getGuid(it, PD_EID, v.eid) != 0)
    return -1;
  size_t n = it.element()->count(PD_OPERAND);
  for (size_t k = 0; k < n; ++k) {
    JRXEID e;
    if (getGuid(it, PD_OPERAND, e, k) != 0) return -1;
    v.operands.insert(e);
  }
  out = std::move(v);
  return 0;
}

int JRXEvent::Writer::operator()(JRXMessageIterator& it, const JRXEvent& v) const {
  it.putBytes(EV_EID, guidBytes(v.eid));
  it.putInt(EV_TIME, v.time);
  it.putBytes(EV_CATEGORY, v.category);
  it.putBytes(EV_TYPE, v.type);
  it.putBytes(EV_SID, std::string(v.sid.data.begin(), v.sid.data.end()));
  it.putInt(EV_CODE, v.code);
  it.putBytes(EV_GUID, guidBytes(v.guid));
  int r = it.putObj(v.info, EV_INFO);
  if (r != 0) return r;
  if (v.data) return JRXWriterDerived<JRXEventData>().putObject(it, EV_DATA, v.data);
  return 0;
}

int JRXEvent::Reader::operator()(const JRXMessageIterator& it, JRXEvent& out) const {
  if (!it.valid()) return -1;
  JRXEvent v;
  std::string sid;
  if (getGuid(it, EV_EID, v.eid) != 0 || getInt64(it, EV_TIME, v.time) != 0 ||
      it.getBytes(EV_CATEGORY, v.category) != 0 || it.getBytes(EV_TYPE, v.type) != 0 ||
      it.getBytes(EV_SID, sid) != 0 || getInt32(it, EV_CODE, v.code) != 0 ||
      getGuid(it, EV_GUID, v.guid) != 0 || it.getObj(v.info, EV_INFO) != 0)
    return -1;
  v.sid.data.assign(sid.begin(), sid.end());
  if (it.element()->count(EV_DATA) != 0 &&
      JRXReaderDerived<JRXEventData>(true).getObject(it, EV_DATA, v.data) != 0)
    return -1;
  out = std::move(v);
  return 0;
}

int JRXAuditEvent::Writer::operator()(JRXMessageIterator& it, const JRXAuditEvent& v) const {
  it.putBytes(AU_SESSION, v.session);
  it.putBytes(AU_ADDRESS, std::string(reinterpret_cast<const char*>(v.address.bytes), 16));
  it.putBytes(AU_DETAIL, v.detail);
  it.putInt(AU_KIND, v.kind);
  return 0;
}

int JRXAuditEvent::Reader::operator()(const JRXMessageIterator& it, JRXAuditEvent& out) const {
  if (!it.valid()) return -1;
  JRXAuditEvent v;
  std::string address;
  if (it.getBytes(AU_SESSION, v.session) != 0 || it.getBytes(AU_ADDRESS, address) != 0 ||
      address.size() != 16 || it.getBytes(AU_DETAIL, v.detail) != 0 ||
      getInt32(it, AU_KIND, v.kind) != 0)
    return -1;
  std::copy(address.begin(), address.end(), v.address.bytes);
  out = std::move(v);
  return 0;
}

}  // namespace JRX
