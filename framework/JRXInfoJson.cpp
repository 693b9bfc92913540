// Text serialisation of information records.
//
// A record is one JSON object:
//
//   INFO = {"text": STR, "id": STR, "flag": false, "params": [[STR, INFO], ...]}
//
// "text" is always written; "id" only when not empty, "flag" only when false, "params" only
// when there are parameters, as [name, record] pairs in the multimap's order (by name, equal
// names in the order they were added), so reading them back in turn rebuilds the same map.
// STR is a JSON string when the bytes are valid UTF-8 (NUL included, escaped as \u0000);
// any other byte sequence is written as {"hex": "<two lower-case hex digits per byte>"}.
// The reader accepts exactly this shape (either STR form anywhere) and refuses anything else:
// unknown keys, wrong types, odd hex, records nested deeper than JRXInfo::kMaxDepth.
#include <nlohmann/json.hpp>

#include "JRXInfo.h"
#include "ASHex.h"

namespace JRX {

namespace {

using nlohmann::json;

struct BadInput {};

bool isValidUtf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned int cp;
    if (c >= 0xc2 && c <= 0xdf) {
      len = 2;
      cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
      len = 3;
      cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3f);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
        (cp >= 0xd800 && cp <= 0xdfff))
      return false;
    i += len;
  }
  return true;
}

json encodeText(const std::string& s) {
  if (isValidUtf8(s)) return json(s);
  return json{{"hex", ASHex(s)}};
}

std::string decodeText(const json& j) {
  if (j.is_string()) return j.get<std::string>();
  if (!j.is_object() || j.size() != 1 || !j.contains("hex") || !j["hex"].is_string())
    throw BadInput();
  const std::string& hex = j["hex"].get_ref<const std::string&>();
  if (hex.size() % 2 != 0) throw BadInput();
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    // A stored text has one spelling: lower-case digits only.
    auto digit = [](char c) { return c >= 'A' && c <= 'F' ? -1 : ASHexValue(c); };
    int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) throw BadInput();
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  return out;
}

json toJson(const JRXInfo& info, int depth) {
  if (depth > JRXInfo::kMaxDepth) throw BadInput();
  json j = json::object();
  j["text"] = encodeText(info.getText());
  if (!info.getId().empty()) j["id"] = encodeText(info.getId());
  if (!info.getFlag()) j["flag"] = false;
  if (!info.getParameters().empty()) {
    json params = json::array();
    for (const auto& p : info.getParameters())
      params.push_back(json::array({encodeText(p.first), toJson(p.second, depth + 1)}));
    j["params"] = std::move(params);
  }
  return j;
}

void fromJson(const json& j, JRXInfo& info, int depth) {
  if (depth > JRXInfo::kMaxDepth || !j.is_object()) throw BadInput();
  for (const auto& item : j.items()) {
    const std::string& key = item.key();
    if (key == "text") {
      info.setText(decodeText(item.value()));
    } else if (key == "id") {
      info.setId(decodeText(item.value()));
    } else if (key == "flag") {
      if (!item.value().is_boolean()) throw BadInput();
      info.setFlag(item.value().get<bool>());
    } else if (key == "params") {
      if (!item.value().is_array()) throw BadInput();
      for (const auto& pair : item.value()) {
        if (!pair.is_array() || pair.size() != 2) throw BadInput();
        JRXInfo child;
        fromJson(pair[1], child, depth + 1);
        info.getParameters().insert(JRXInfo::Parameters::value_type(decodeText(pair[0]), std::move(child)));
      }
    } else {
      throw BadInput();
    }
  }
  if (!j.contains("text")) throw BadInput();
}

}  // namespace

int JRXInfo::serializeToString(std::string& out) const {
  try {
    out = toJson(*this, 0).dump();
    return 0;
  } catch (const BadInput&) {
    return 1;
  } catch (const json::exception&) {
    return 2;
  }
}

int JRXInfo::deserializeFromString(const char* text) {
  if (!text) return 1;
  try {
    json j = json::parse(text);
    JRXInfo parsed;
    fromJson(j, parsed, 0);
    *this = std::move(parsed);
    return 0;
  } catch (const BadInput&) {
    return 1;
  } catch (const json::exception&) {
    return 2;
  }
}

}  // namespace JRX
