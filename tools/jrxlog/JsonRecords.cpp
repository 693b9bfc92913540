#include "JsonRecords.h"

#include <boost/shared_ptr.hpp>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "ASHex.h"

namespace jrxlog {

using nlohmann::json;

namespace {

// Deeper records are refused by the framework's own serialiser as well.
const int kMaxInfoDepth = 512;
const int64_t kMinTime = std::numeric_limits<int32_t>::min(),
              kMaxTime = std::numeric_limits<int32_t>::max();

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

int64_t getInteger(const json& obj, const std::string& field, const std::string& path,
                   int64_t min, int64_t max) {
  const json& v = obj.at(field);
  if (!v.is_number_integer()) wrongType(path, "a whole number", v);
  const bool above = v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(max);
  if (above || v.get<int64_t>() < min || v.get<int64_t>() > max)
    throw RecordError("field " + quoted(path) + " must be from " + std::to_string(min) + " to " +
                      std::to_string(max));
  return v.get<int64_t>();
}

// The optional fields of a record, read into `out` when given; `in` prefixes the path.
void take(const json& obj, const char* field, std::string& out, const std::string& in = "") {
  if (obj.contains(field)) out = getString(obj, field, in + field);
}

void take(const json& obj, const char* field, int& out, const std::string& in = "") {
  if (obj.contains(field))
    out = static_cast<int>(getInteger(obj, field, in + field, std::numeric_limits<int>::min(),
                                      std::numeric_limits<int>::max()));
}

void take(const json& obj, const char* field, JRX::JRXEID& out) {
  if (obj.contains(field)) out = parseGuid(field, getString(obj, field, field));
}

// Times are stored as signed 32-bit seconds; a wider one would come back as another time.
int64_t getTime(const json& obj, int64_t now) {
  return obj.contains("time") ? getInteger(obj, "time", "time", kMinTime, kMaxTime) : now;
}

void checkFields(const json& obj, const std::set<std::string>& allowed, const std::string& where) {
  for (auto it = obj.begin(); it != obj.end(); ++it)
    if (!allowed.count(it.key()))
      throw RecordError("unknown field " + quoted(it.key()) +
                        (where.empty() ? std::string() : " in " + where));
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
    for (size_t i = 0; i < v.size(); ++i)
      addParameter(info, name, v[i], path + "[" + std::to_string(i) + "]", depth, true);
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
  std::string text, id;
  take(v, "text", text, path + ".");
  take(v, "id", id, path + ".");
  info.setText(text);
  info.setId(id);
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

// The library's own document builder, which refuses a key given twice in one object: left to
// itself it would keep the last of them and drop the others silently.
class StrictDocument : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  explicit StrictDocument(json& root) : json_sax_dom_parser(root), root_(root) {}

  bool start_object(std::size_t n) {
    open_.push_back({});
    return json_sax_dom_parser::start_object(n);
  }
  bool end_object() {
    open_.pop_back();
    return json_sax_dom_parser::end_object();
  }
  bool start_array(std::size_t n) {
    open_.emplace_back();
    open_.back().array = true;
    return json_sax_dom_parser::start_array(n);
  }
  bool end_array() {
    open_.pop_back();
    return json_sax_dom_parser::end_array();
  }
  bool key(std::string& k) {
    if (!open_.back().keys.insert(k).second)
      throw RecordError("field " + quoted(pathTo(k)) + " is given twice");
    open_.back().key = k;
    return json_sax_dom_parser::key(k);
  }
  // Syntax errors, and numbers too large for a double (out of range), alike.
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    std::string what = e.what();
    // Drop the library's "[json.exception.parse_error.101] " prefix.
    const auto close = what.find("] ");
    if (what.rfind("[json.exception", 0) == 0 && close != std::string::npos)
      what = what.substr(close + 2);
    // The library quotes the token it stopped at, which may be most of the line.
    const auto open = what.find('\''), end = what.rfind('\'');
    if (open != std::string::npos && end > open)
      what = what.substr(0, open + 1) + excerpt(what.substr(open + 1, end - open - 1)) +
             what.substr(end);
    throw RecordError("malformed JSON: " + what);
  }

 private:
  struct Open {
    bool array = false;
    std::set<std::string> keys;
    std::string key;  // the latest
  };

  // The field path of `key` in the innermost open object: the open values are the latest
  // member of each one around them.
  std::string pathTo(const std::string& key) const {
    std::string path;
    const json* at = &root_;
    for (size_t i = 0; i + 1 < open_.size(); ++i) {
      if (open_[i].array) {
        path += "[" + std::to_string(at->size() - 1) + "]";
        at = &at->back();
      } else {
        path += (path.empty() ? "" : ".") + open_[i].key;
        at = &(*at)[open_[i].key];
      }
    }
    return path.empty() ? key : path + "." + key;
  }

  const json& root_;
  std::vector<Open> open_;  // the objects and arrays being read, outermost first
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
  if (!v.is_object())
    throw RecordError(std::string("a record must be a JSON object, not ") + typeName(v));
  return v;
}

EnvRecord envFrom(const json& v) {
  checkFields(v, {"kind", "eid", "type", "title"}, "an env record");
  if (!v.contains("eid")) throw RecordError("an env record needs \"eid\"");
  EnvRecord env;
  take(v, "eid", env.eid);
  if (!env.eid.isValid()) throw RecordError("field \"eid\" must not be the all-zero GUID");
  take(v, "type", env.type);
  take(v, "title", env.title);
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
  if (v.contains("eta") && !v["eta"].is_null()) getInteger(v, "eta", "eta", kMinTime, kMaxTime);
  JRX::JRXRequestProgressData r(getString(v, "id", "id"));
  take(v, "parentId", r.parentId);
  take(v, "name", r.name);
  take(v, "status", r.status);
  take(v, "progress", r.progress);
  r.time = getTime(v, now);
  if (v.contains("operands")) {
    const json& ops = v["operands"];
    if (!ops.is_array()) wrongType("operands", "an array of GUIDs", ops);
    for (size_t i = 0; i < ops.size(); ++i) {
      const std::string path = "operands[" + std::to_string(i) + "]";
      if (!ops[i].is_string()) wrongType(path, "a GUID text", ops[i]);
      r.operands.insert(parseGuid(path, ops[i].get<std::string>()));
    }
  }
  take(v, "sessionId", r.sessionId.text);
  take(v, "eid", r.eid);
  if (v.contains("info")) r.info = infoFrom(v["info"], "info", 0);
  return r;
}

JRX::JRXEvent eventFrom(const json& v, int64_t now) {
  checkFields(v,
              {"kind", "guid", "time", "category", "type", "code", "sid", "eid", "info", "audit"},
              "an event record");
  JRX::JRXEvent e;
  unsigned long long first = 0, second = 0;
  if (v.contains("guid")) parseGuid("guid", getString(v, "guid", "guid")).getData(first, second);
  e.guid = v.contains("guid")
               ? JRX::JRXGUID(static_cast<long long>(first), static_cast<long long>(second))
               : JRX::JRXGUID::generate();
  e.time = getTime(v, now);
  take(v, "category", e.category);
  take(v, "type", e.type);
  take(v, "code", e.code);
  if (v.contains("sid")) e.sid = hexToSid(getString(v, "sid", "sid"));
  take(v, "eid", e.eid);
  if (v.contains("info")) e.info = infoFrom(v["info"], "info", 0);
  if (!v.contains("audit")) return e;
  const json& a = v["audit"];
  if (!a.is_object()) wrongType("audit", "an object", a);
  checkFields(a, {"session", "address", "detail", "kind"}, "\"audit\"");
  boost::shared_ptr<JRX::JRXAuditEvent> audit(new JRX::JRXAuditEvent());
  take(a, "session", audit->session, "audit.");
  if (a.contains("address")) {
    const std::string address = getString(a, "address", "audit.address");
    if (audit->address.fromString(address) != 0)
      throw RecordError("field \"audit.address\" is not an IPv6 or IPv4 address: " +
                        excerpt(address));
  }
  take(a, "detail", audit->detail, "audit.");
  take(a, "kind", audit->kind, "audit.");
  e.data = audit;
  return e;
}

// The kind of a record given on its own, which may be left out.
json parseKind(const std::string& text, const char* expected) {
  json v = parseObject(text);
  if (!v.contains("kind")) return v;
  const json& k = v["kind"];
  if (!k.is_string()) wrongType("kind", "a string", k);
  if (k.get<std::string>() != expected)
    throw RecordError(std::string("expected a record of kind \"") + expected + "\", not \"" +
                      excerpt(k.get<std::string>()) + "\"");
  return v;
}

}  // namespace

JRX::JRXEID parseGuid(const std::string& what, const std::string& text) {
  JRX::JRXEID g;
  if (g.fromString(text.c_str()) != 0 || text.find('\0') != std::string::npos)
    throw RecordError("field " + quoted(what) + " is not a GUID (8-4-4-4-12 hex digits): \"" +
                      excerpt(text) + "\"");
  return g;
}

JRX::JRXSID hexToSid(const std::string& text) {
  if (text.size() % 2 != 0)
    throw RecordError("field \"sid\" must have an even number of hex digits");
  std::vector<unsigned char> bytes((text.size() + 1) / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const int v = ASHexValue(text[i]);
    if (v < 0)
      throw RecordError("field \"sid\" must be hex digits, found '" + text.substr(i, 1) + "'");
    bytes[i / 2] = static_cast<unsigned char>(bytes[i / 2] * 16 + v);
  }
  return JRX::JRXSID(bytes);
}

Record parseRecord(const std::string& line, int64_t now) {
  json v = parseObject(line);
  if (!v.contains("kind")) throw RecordError("a record needs \"kind\" (env, progress or event)");
  const json& k = v["kind"];
  if (!k.is_string()) wrongType("kind", "a string", k);
  const std::string kind = k.get<std::string>();
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
  return progressFrom(parseKind(text, "progress"), now);
}

JRX::JRXEvent parseEvent(const std::string& text, int64_t now) {
  return eventFrom(parseKind(text, "event"), now);
}

JRX::JRXInfo infoFromJson(const std::string& text) { return infoFrom(parseJson(text), "info", 0); }

}  // namespace jrxlog
