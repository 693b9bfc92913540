#include "JRXInfo.h"

namespace JRX {

const JRXInfo* JRXInfo::getParameter(const std::string& name) const {
  // lower_bound, not find: find may return any of several equal keys.
  auto it = parameters_.lower_bound(name);
  if (it == parameters_.end() || it->first != name) return nullptr;
  return &it->second;
}

// multimap::emplace places the new entry after those with an equal key, and makes it in
// its node: the value is copied (or, for a text, built) once.
JRXInfo& JRXInfo::addParameter(const std::string& name, const JRXInfo& value) {
  return parameters_.emplace(name, value)->second;
}

JRXInfo& JRXInfo::addParameter(const std::string& name, const std::string& text) {
  return parameters_.emplace(name, JRXInfo(text))->second;
}

bool JRXInfo::operator==(const JRXInfo& o) const {
  return id_ == o.id_ && text_ == o.text_ && flag_ == o.flag_ && parameters_ == o.parameters_;
}

std::string JRXInfo::render(
    const std::function<std::string(const std::string&)>& translate) const {
  const std::string text = translate(text_);
  // Nothing to fill in: the text is plain text, doubled braces included.
  if (parameters_.empty()) return text;
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
      out.push_back(c);
      i += 2;
      continue;
    }
    if (c == '{') {
      size_t close = text.find('}', i + 1);
      size_t nested = text.find('{', i + 1);
      if (close != std::string::npos && (nested == std::string::npos || nested > close)) {
        const JRXInfo* p = getParameter(text.substr(i + 1, close - i - 1));
        if (p) {
          out += p->render(translate);
          i = close + 1;
          continue;
        }
      }
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

std::string JRXInfo::toString() const { return toStringWithTranslator<JRXNullTranslator>(); }

}  // namespace JRX
