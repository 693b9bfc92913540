#include "Exposition.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "JsonRecords.h"

namespace jrxlog {

namespace {

// A label value escapes backslash, double quote and line feed; a help text backslash and
// line feed only. Other control bytes are legal there but end no line, so they stay.
std::string escaped(const std::string& text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (char c : textToJson(text)) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '"' && quotes)
      out += "\\\"";
    else
      out += c;
  }
  return out;
}

}  // namespace

const char* const Exposition::kContentType = "text/plain; version=0.0.4; charset=utf-8";

std::string sampleValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buf[40];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    snprintf(buf, sizeof buf, "%.0f", value);
    return buf;
  }
  // The shortest form that reads back as the same number: 0.005, not 0.0050000000000000001.
  for (int digits = 15; digits < 17; ++digits) {
    snprintf(buf, sizeof buf, "%.*g", digits, value);
    if (std::strtod(buf, nullptr) == value) return buf;
  }
  snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

void Exposition::family(const std::string& name, const std::string& type,
                        const std::string& help) {
  text_ += "# HELP " + name + " " + escaped(help, false) + "\n";
  text_ += "# TYPE " + name + " " + type + "\n";
}

void Exposition::sample(const std::string& name, const Labels& labels, double value) {
  text_ += name;
  if (!labels.empty()) {
    text_ += '{';
    for (size_t i = 0; i < labels.size(); ++i) {
      if (i) text_ += ',';
      text_ += labels[i].first + "=\"" + escaped(labels[i].second, true) + '"';
    }
    text_ += '}';
  }
  text_ += ' ' + sampleValue(value) + '\n';
}

}  // namespace jrxlog
