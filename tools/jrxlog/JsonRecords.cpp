#include "JsonRecords.h"
#include "ASHex.h"

#include <boost/shared_ptr.hpp>
#include <limits>
#include <nlohmann/json.hpp>

namespace jrxlog {

using nlohmann::json;
using ojson = nlohmann::ordered_json;

namespace {

// U+FDD0, a noncharacter (never interchanged as text), starts every escape.
const char kEscape[] = "\xEF\xB7\x90";
const size_t kEscapeBytes = 3;

// The length of the well-formed UTF-8 sequence at `i` (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0. The JSON writer checks the same rules.
size_t utf8Length(const std::string& s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = at(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return n;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Deeper records are refused by the framework's own serialiser as well.
const int kMaxInfoDepth = 512;

// Field paths of deeply nested records are shortened in the middle.
std::string quoted(const std::string& name) {
  if (name.size() <= 80) return "\"" + name + "\"";
  return "\"" + name.substr(0, 30) + "..." + name.substr(name.size() - 40) + "\"";
}

// A piece of the input quoted in a message: never more than a short excerpt of it.
std::string excerpt(const std::string& text) {
  return text.size() <= 60 ? text : text.substr(0, 60) + "...";
}

const char* typeName(const json& v) {
  switch (v.type()) {
    case json::value_t::null: return "null";
    case json::value_t::boolean: return "a boolean";
    case json::value_t::string: return "a string";
    case json::value_t::array: return "an array";
    case json::value_t::object: return "an object";
    case json::value_t::binary: return "binary data";
    case json::value_t::discarded: return "nothing";
    default: return "a number";
  }
}

[[noreturn]] void wrongType(const std::string& field, const char* expected, const json& v) {
  throw RecordError("field " + quoted(field) + " must be " + expected + ", not " + typeName(v));
}

std::string getString(const json& obj, const std::string& field, const std::string& path) {
  const json& v = obj.at(field);
  if (!v.is_string()) wrongType(path, "a string", v);
  return textFromJson(v.get<std::string>());
}

[[noreturn]] void outOfRange(const std::string& field, int64_t min, int64_t max) {
  throw RecordError("field " + quoted(field) + " must be from " + std::to_string(min) + " to " +
                    std::to_string(max));
}

int64_t getInteger(const json& obj, const std::string& field, const std::string& path,
                   int64_t min, int64_t max) {
  const json& v = obj.at(field);
  if (!v.is_number_integer()) wrongType(path, "a whole number", v);
  if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(max))
    outOfRange(path, min, max);
  int64_t n = v.get<int64_t>();
  if (n < min || n > max) outOfRange(path, min, max);
  return n;
}

int getInt(const json& obj, const std::string& field, const std::string& path) {
  return static_cast<int>(getInteger(obj, field, path, std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max()));
}

// Times are stored as signed 32-bit seconds; a wider one would come back as another time.
int64_t getTime(const json& obj, int64_t now) {
  if (!obj.contains("time")) return now;
  return getInteger(obj, "time", "time", std::numeric_limits<int32_t>::min(),
                    std::numeric_limits<int32_t>::max());
}

void checkFields(const json& obj, std::initializer_list<const char*> allowed,
                 const std::string& where) {
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool ok = false;
    for (const char* a : allowed)
      if (it.key() == a) ok = true;
    if (!ok)
      throw RecordError("unknown field " + quoted(it.key()) +
                        (where.empty() ? std::string() : " in " + where));
  }
}

JRX::JRXInfo infoFrom(const json& v, const std::string& path, int depth);

// A parameter value: a text, a nested record, or an array of either for a repeated name.
void addParameter(JRX::JRXInfo& info, const std::string& name, const json& v,
                  const std::string& path, int depth, bool inArray) {
  if (v.is_string()) {
    info.addParameter(name, JRX::JRXInfo(textFromJson(v.get<std::string>())));
  } else if (v.is_object()) {
    info.addParameter(name, infoFrom(v, path, depth + 1));
  } else if (v.is_array() && !inArray) {
    size_t i = 0;
    for (const auto& item : v) {
      addParameter(info, name, item, path + "[" + std::to_string(i) + "]", depth, true);
      ++i;
    }
  } else {
    wrongType(path, inArray ? "a string or an object" : "a string, an object or an array", v);
  }
}

JRX::JRXInfo infoFrom(const json& v, const std::string& path, int depth) {
  if (!v.is_object()) wrongType(path, "an object", v);
  if (depth > kMaxInfoDepth)
    throw RecordError("field " + quoted(path) + " is nested deeper than " +
                      std::to_string(kMaxInfoDepth) + " levels");
  checkFields(v, {"text", "params", "id", "flag"}, quoted(path));
  JRX::JRXInfo info;
  if (v.contains("text")) info.setText(getString(v, "text", path + ".text"));
  if (v.contains("id")) info.setId(getString(v, "id", path + ".id"));
  if (v.contains("flag")) {
    if (!v["flag"].is_boolean()) wrongType(path + ".flag", "true or false", v["flag"]);
    info.setFlag(v["flag"].get<bool>());
  }
  if (v.contains("params")) {
    const json& params = v["params"];
    if (!params.is_object()) wrongType(path + ".params", "an object", params);
    for (auto it = params.begin(); it != params.end(); ++it)
      addParameter(info, textFromJson(it.key()), it.value(), path + ".params." + it.key(), depth,
                   false);
  }
  return info;
}

bool isPlainText(const JRX::JRXInfo& info) {
  return info.getParameters().empty() && info.getId().empty() && info.getFlag();
}

ojson infoTo(const JRX::JRXInfo& info);

ojson valueTo(const JRX::JRXInfo& value) {
  if (isPlainText(value)) return ojson(textToJson(value.getText()));
  return infoTo(value);
}

ojson infoTo(const JRX::JRXInfo& info) {
  ojson out = ojson::object();
  out["text"] = textToJson(info.getText());
  if (!info.getId().empty()) out["id"] = textToJson(info.getId());
  if (!info.getFlag()) out["flag"] = false;
  const auto& params = info.getParameters();
  if (!params.empty()) {
    ojson p = ojson::object();
    for (auto it = params.begin(); it != params.end();) {
      auto range = params.equal_range(it->first);
      const std::string name = textToJson(it->first);
      if (std::next(range.first) == range.second) {
        p[name] = valueTo(it->second);
      } else {
        ojson arr = ojson::array();
        for (auto r = range.first; r != range.second; ++r) arr.push_back(valueTo(r->second));
        p[name] = std::move(arr);
      }
      it = range.second;
    }
    out["params"] = std::move(p);
  }
  return out;
}

// Builds the document as the library's own parser does, but refuses a key given twice in
// one object, which that parser would keep the last of and drop the others silently.
class StrictDocument {
 public:
  explicit StrictDocument(json& root) : root_(root) {}

  bool null() { return put(nullptr); }
  bool boolean(bool v) { return put(v); }
  bool number_integer(json::number_integer_t v) { return put(v); }
  bool number_unsigned(json::number_unsigned_t v) { return put(v); }
  bool number_float(json::number_float_t v, const json::string_t&) { return put(v); }
  bool string(json::string_t& v) { return put(std::move(v)); }
  bool binary(json::binary_t& v) { return put(json::binary(std::move(v))); }
  bool start_object(std::size_t) {
    put(json::value_t::object);
    open_.push_back(last_);
    return true;
  }
  bool key(json::string_t& k) {
    auto added = open_.back()->get_ref<json::object_t&>().try_emplace(std::move(k), nullptr);
    if (!added.second) throw RecordError("field " + quoted(pathTo(k)) + " is given twice");
    member_ = &added.first->second;
    return true;
  }
  bool end_object() {
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    put(json::value_t::array);
    open_.push_back(last_);
    return true;
  }
  bool end_array() { return end_object(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    // Syntax errors, and numbers too large for a double (out of range), alike.
    std::string what = e.what();
    // Drop the library's "[json.exception.parse_error.101] " prefix.
    auto close = what.find("] ");
    if (what.rfind("[json.exception", 0) == 0 && close != std::string::npos)
      what = what.substr(close + 2);
    // The library quotes the token it stopped at, which may be most of the line.
    auto open = what.find('\'');
    auto end = what.rfind('\'');
    if (open != std::string::npos && end > open)
      what = what.substr(0, open + 1) + excerpt(what.substr(open + 1, end - open - 1)) +
             what.substr(end);
    throw RecordError("malformed JSON: " + what);
  }

 private:
  template <class V>
  bool put(V&& v) {
    if (open_.empty()) {
      root_ = json(std::forward<V>(v));
      last_ = &root_;
    } else if (open_.back()->is_array()) {
      open_.back()->emplace_back(std::forward<V>(v));
      last_ = &open_.back()->back();
    } else {
      *member_ = json(std::forward<V>(v));
      last_ = member_;
    }
    return true;
  }

  // The field path of `key` in the innermost open object, found only when it is needed.
  std::string pathTo(const std::string& key) const {
    std::string path;
    for (size_t i = 1; i < open_.size(); ++i) {
      const json& up = *open_[i - 1];
      if (up.is_array()) {
        for (size_t n = 0; n < up.size(); ++n)
          if (&up[n] == open_[i]) path += "[" + std::to_string(n) + "]";
      } else {
        for (auto it = up.begin(); it != up.end(); ++it)
          if (&it.value() == open_[i]) path += (path.empty() ? "" : ".") + it.key();
      }
    }
    return path.empty() ? key : path + "." + key;
  }

  json& root_;
  std::vector<json*> open_;  // the objects and arrays being read, outermost first
  json* member_ = nullptr;   // the value of the key just read
  json* last_ = nullptr;     // the value just put
};

json parseJson(const std::string& text) {
  // The parser takes a NUL byte for the end of its input and would ignore what follows it.
  const size_t nul = text.find('\0');
  if (nul != std::string::npos)
    throw RecordError("malformed JSON: a NUL byte at column " + std::to_string(nul + 1));
  json v;
  StrictDocument document(v);
  json::sax_parse(text, &document);
  return v;
}

json parseObject(const std::string& text) {
  json v = parseJson(text);
  if (!v.is_object()) throw RecordError(std::string("a record must be a JSON object, not ") +
                                        typeName(v));
  return v;
}

EnvRecord envFrom(const json& v) {
  checkFields(v, {"kind", "eid", "type", "title"}, "an env record");
  if (!v.contains("eid")) throw RecordError("an env record needs \"eid\"");
  EnvRecord env;
  env.eid = parseGuid("eid", getString(v, "eid", "eid"));
  if (!env.eid.isValid()) throw RecordError("field \"eid\" must not be the all-zero GUID");
  if (v.contains("type")) env.type = getString(v, "type", "type");
  if (v.contains("title")) env.title = getString(v, "title", "title");
  return env;
}

JRX::JRXRequestProgressData progressFrom(const json& v, int64_t now) {
  checkFields(v,
              {"kind", "id", "parentId", "name", "status", "progress", "time", "operands",
               "sessionId", "eid", "info", "eta"},
              "a progress record");
  if (!v.contains("id")) throw RecordError("a progress record needs \"id\"");
  // A listing's estimate of the end, which the log does not store: read back, it is checked
  // and left out.
  if (v.contains("eta") && !v["eta"].is_null())
    getInteger(v, "eta", "eta", std::numeric_limits<int32_t>::min(),
               std::numeric_limits<int32_t>::max());
  JRX::JRXRequestProgressData r(getString(v, "id", "id"));
  if (v.contains("parentId")) r.parentId = getString(v, "parentId", "parentId");
  if (v.contains("name")) r.name = getString(v, "name", "name");
  if (v.contains("status")) r.status = getInt(v, "status", "status");
  if (v.contains("progress")) r.progress = getInt(v, "progress", "progress");
  r.time = getTime(v, now);
  if (v.contains("operands")) {
    const json& ops = v["operands"];
    if (!ops.is_array()) wrongType("operands", "an array of GUIDs", ops);
    size_t i = 0;
    for (const auto& g : ops) {
      std::string path = "operands[" + std::to_string(i++) + "]";
      if (!g.is_string()) wrongType(path, "a GUID text", g);
      r.operands.insert(parseGuid(path, g.get<std::string>()));
    }
  }
  if (v.contains("sessionId")) r.sessionId = JRX::JRXSessionID(getString(v, "sessionId", "sessionId"));
  if (v.contains("eid")) r.eid = parseGuid("eid", getString(v, "eid", "eid"));
  if (v.contains("info")) r.info = infoFrom(v["info"], "info", 0);
  return r;
}

JRX::JRXEvent eventFrom(const json& v, int64_t now) {
  checkFields(v,
              {"kind", "guid", "time", "category", "type", "code", "sid", "eid", "info", "audit"},
              "an event record");
  JRX::JRXEvent e;
  if (v.contains("guid")) {
    unsigned long long first = 0, second = 0;
    parseGuid("guid", getString(v, "guid", "guid")).getData(first, second);
    e.guid = JRX::JRXGUID(static_cast<long long>(first), static_cast<long long>(second));
  } else {
    e.guid = JRX::JRXGUID::generate();
  }
  e.time = getTime(v, now);
  if (v.contains("category")) e.category = getString(v, "category", "category");
  if (v.contains("type")) e.type = getString(v, "type", "type");
  if (v.contains("code")) e.code = getInt(v, "code", "code");
  if (v.contains("sid")) e.sid = hexToSid(getString(v, "sid", "sid"));
  if (v.contains("eid")) e.eid = parseGuid("eid", getString(v, "eid", "eid"));
  if (v.contains("info")) e.info = infoFrom(v["info"], "info", 0);
  if (v.contains("audit")) {
    const json& a = v["audit"];
    if (!a.is_object()) wrongType("audit", "an object", a);
    checkFields(a, {"session", "address", "detail", "kind"}, "\"audit\"");
    boost::shared_ptr<JRX::JRXAuditEvent> audit(new JRX::JRXAuditEvent());
    if (a.contains("session")) audit->session = getString(a, "session", "audit.session");
    if (a.contains("address")) {
      std::string text = getString(a, "address", "audit.address");
      if (audit->address.fromString(text) != 0)
        throw RecordError("field \"audit.address\" is not an IPv6 or IPv4 address: " +
                          excerpt(text));
    }
    if (a.contains("detail")) audit->detail = getString(a, "detail", "audit.detail");
    if (a.contains("kind")) audit->kind = getInt(a, "kind", "audit.kind");
    e.data = audit;
  }
  return e;
}

void checkKind(const json& v, const char* expected) {
  if (!v.contains("kind")) return;
  const json& k = v["kind"];
  if (!k.is_string()) wrongType("kind", "a string", k);
  if (k.get<std::string>() != expected)
    throw RecordError(std::string("expected a record of kind \"") + expected + "\", not \"" +
                      excerpt(k.get<std::string>()) + "\"");
}

std::string dump(const ojson& v) {
  return v.dump(-1, ' ', false, ojson::error_handler_t::replace);
}

}  // namespace

std::string textToJson(const std::string& text) {
  bool plain = true;
  for (size_t i = 0; i < text.size() && plain;) {
    const size_t n = utf8Length(text, i);
    plain = n != 0 && text.compare(i, kEscapeBytes, kEscape) != 0;
    i += n;
  }
  if (plain) return text;
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8Length(text, i);
    if (n == 0) {
      const unsigned char b = static_cast<unsigned char>(text[i]);
      out.append(kEscape, kEscapeBytes);
      ASAppendHex(out, &b, 1);
      i += 1;
    } else {
      // The escape's own character stands for itself doubled.
      if (text.compare(i, kEscapeBytes, kEscape) == 0) out.append(kEscape, kEscapeBytes);
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string textFromJson(const std::string& text) {
  size_t at = text.find(kEscape);
  if (at == std::string::npos) return text;
  std::string out(text, 0, at);
  while (at < text.size()) {
    if (text.compare(at, kEscapeBytes, kEscape) != 0) {
      out += text[at++];
      continue;
    }
    const size_t next = at + kEscapeBytes;
    if (text.compare(next, kEscapeBytes, kEscape) == 0) {
      out.append(kEscape, kEscapeBytes);
      at = next + kEscapeBytes;
    } else if (next + 2 <= text.size() && isHexDigit(text[next]) && isHexDigit(text[next + 1])) {
      out += static_cast<char>(std::stoi(text.substr(next, 2), nullptr, 16));
      at = next + 2;
    } else {
      // Not written by an escape: kept as it stands.
      out.append(kEscape, kEscapeBytes);
      at = next;
    }
  }
  return out;
}

std::string cursorToJson(const std::string& cursor) {
  ojson out = ojson::object();
  out["kind"] = "cursor";
  out["cursor"] = cursor;
  return dump(out);
}

JRX::JRXEID parseGuid(const std::string& what, const std::string& text) {
  JRX::JRXEID g;
  if (g.fromString(text.c_str()) != 0 || text.find('\0') != std::string::npos)
    throw RecordError("field " + quoted(what) + " is not a GUID (8-4-4-4-12 hex digits): \"" +
                      excerpt(text) + "\"");
  return g;
}

std::string sidToHex(const JRX::JRXSID& sid) {
  std::string out;
  ASAppendHex(out, sid.data.data(), sid.data.size());
  return out;
}

JRX::JRXSID hexToSid(const std::string& text) {
  auto nibble = [&](char c) -> int {
    const int v = ASHexValue(c);
    if (v >= 0) return v;
    throw RecordError("field \"sid\" must be hex digits, found '" + std::string(1, c) + "'");
  };
  if (text.size() % 2 != 0) throw RecordError("field \"sid\" must have an even number of hex digits");
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i < text.size(); i += 2)
    bytes.push_back(static_cast<unsigned char>(nibble(text[i]) * 16 + nibble(text[i + 1])));
  return JRX::JRXSID(bytes);
}

Record parseRecord(const std::string& line, int64_t now) {
  json v = parseObject(line);
  if (!v.contains("kind")) throw RecordError("a record needs \"kind\" (env, progress or event)");
  const json& k = v["kind"];
  if (!k.is_string()) wrongType("kind", "a string", k);
  std::string kind = k.get<std::string>();
  Record r;
  if (kind == "env") {
    r.kind = Record::ENV;
    r.env = envFrom(v);
  } else if (kind == "progress") {
    r.kind = Record::PROGRESS;
    r.progress = progressFrom(v, now);
  } else if (kind == "event") {
    r.kind = Record::EVENT;
    r.event = eventFrom(v, now);
  } else if (kind == "cursor") {
    // Where a listing stopped, printed after it: nothing to store.
    checkFields(v, {"kind", "cursor"}, "a cursor record");
    r.kind = Record::CURSOR;
    getString(v, "cursor", "cursor");
  } else {
    throw RecordError("unknown kind \"" + excerpt(kind) +
                      "\" (expected env, progress, event or cursor)");
  }
  return r;
}

JRX::JRXRequestProgressData parseProgress(const std::string& text, int64_t now) {
  json v = parseObject(text);
  checkKind(v, "progress");
  return progressFrom(v, now);
}

JRX::JRXEvent parseEvent(const std::string& text, int64_t now) {
  json v = parseObject(text);
  checkKind(v, "event");
  return eventFrom(v, now);
}

std::string envToJson(const EnvRecord& env) {
  ojson out = ojson::object();
  out["kind"] = "env";
  out["eid"] = env.eid.toString();
  out["type"] = textToJson(env.type);
  out["title"] = textToJson(env.title);
  return dump(out);
}

std::string progressToJson(const JRX::JRXRequestProgressData& r, const std::optional<long>* eta) {
  ojson out = ojson::object();
  out["kind"] = "progress";
  out["id"] = textToJson(r.id);
  out["parentId"] = textToJson(r.parentId);
  out["name"] = textToJson(r.name);
  out["status"] = r.status;
  out["progress"] = r.progress;
  out["time"] = r.time;
  ojson ops = ojson::array();
  for (const auto& g : r.operands) ops.push_back(g.toString());
  out["operands"] = std::move(ops);
  out["sessionId"] = textToJson(r.sessionId.text);
  if (r.eid.isValid()) out["eid"] = r.eid.toString();
  out["info"] = infoTo(r.info);
  if (eta) {
    if (*eta)
      out["eta"] = **eta;
    else
      out["eta"] = nullptr;
  }
  return dump(out);
}

std::string eventToJson(const JRX::JRXEvent& e) {
  ojson out = ojson::object();
  out["kind"] = "event";
  out["guid"] = e.guid.toString();
  out["time"] = e.time;
  out["category"] = textToJson(e.category);
  out["type"] = textToJson(e.type);
  out["code"] = e.code;
  if (!e.sid.data.empty()) out["sid"] = sidToHex(e.sid);
  if (e.eid.isValid()) out["eid"] = e.eid.toString();
  out["info"] = infoTo(e.info);
  if (auto audit = boost::dynamic_pointer_cast<JRX::JRXAuditEvent>(e.data)) {
    ojson a = ojson::object();
    a["session"] = textToJson(audit->session);
    a["address"] = audit->address.toString();
    a["detail"] = textToJson(audit->detail);
    a["kind"] = audit->kind;
    out["audit"] = std::move(a);
  }
  return dump(out);
}

std::string infoToJson(const JRX::JRXInfo& info) { return dump(infoTo(info)); }

JRX::JRXInfo infoFromJson(const std::string& text) { return infoFrom(parseJson(text), "info", 0); }

}  // namespace jrxlog
