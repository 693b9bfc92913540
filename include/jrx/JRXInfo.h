// Information records: a text with named parameters that are information records themselves.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

class JRXMessageIterator;
class JRXEID;

// Translator used by toString: the null translator leaves texts as they are.
struct JRXNullTranslator {
  static const std::string& translate(const std::string& s) { return s; }
};

class JRXInfo {
 public:
  typedef std::multimap<std::string, JRXInfo> Parameters;

  JRXInfo() = default;
  JRXInfo(const std::string& text, const std::string& id, bool flag)
      : id_(id), text_(text), flag_(flag) {}
  explicit JRXInfo(const std::string& text) : text_(text) {}

  const std::string& getId() const { return id_; }
  void setId(const std::string& id) { id_ = id; }
  const std::string& getText() const { return text_; }
  void setText(const std::string& text) { text_ = text; }
  bool getFlag() const { return flag_; }
  void setFlag(bool flag) { flag_ = flag; }

  const Parameters& getParameters() const { return parameters_; }
  Parameters& getParameters() { return parameters_; }
  // The first parameter of that name in the map's order, or null.
  const JRXInfo* getParameter(const std::string& name) const;
  // Adds a parameter (after those of the same name); returns the stored copy.
  JRXInfo& addParameter(const std::string& name, const JRXInfo& value);
  JRXInfo& addParameter(const std::string& name, const std::string& text);

  // The display text. A record without parameters is its text as it stands. Otherwise the
  // text is a template: "{name}" is replaced by the display text of the first parameter of
  // that name (unknown names are kept as written), "{{" and "}}" stand for single braces.
  // Each text goes through the translator first.
  template <class Translator>
  std::string toStringWithTranslator() const {
    return render([](const std::string& s) -> std::string { return Translator::translate(s); });
  }
  std::string toString() const;
  std::string render(const std::function<std::string(const std::string&)>& translate) const;

  // Text serialisation (JSON, the format is described in framework/JRXInfoJson.cpp); 0 on
  // success, non-zero on failure (the record unchanged on a failed read). Round-trips every
  // record exactly, bytes that are not UTF-8 included. Records nested deeper than
  // kMaxDepth levels are refused both ways.
  int serializeToString(std::string& out) const;
  int deserializeFromString(const char* text);

  static constexpr int kMaxDepth = 512;

  bool operator==(const JRXInfo& o) const;
  bool operator!=(const JRXInfo& o) const { return !(*this == o); }

  // Message writer and reader (namespace 292, type 161).
  struct Writer;
  struct Reader;

 private:
  std::string id_;
  std::string text_;
  bool flag_ = true;
  Parameters parameters_;
};

// What the framework knows about an environment: parameters "eid", "type" and "title" from
// the environment directory (only "eid" for an identifier the directory does not know).
class JRXEnvInfo : public JRXInfo {
 public:
  explicit JRXEnvInfo(const JRXEID& eid);
};

}  // namespace JRX

JRX_PUBLIC_END
