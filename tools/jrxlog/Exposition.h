// The Prometheus text exposition format (version 0.0.4): metric families, each with its
// HELP and TYPE lines before its samples, label values and help texts escaped as the format
// says.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace jrxlog {

using Labels = std::vector<std::pair<std::string, std::string>>;

class Exposition {
 public:
  static const char* const kContentType;

  // Begins a family: `type` is "counter", "gauge", "histogram" ...; its samples follow.
  void family(const std::string& name, const std::string& type, const std::string& help);
  // `name` is the family's or one of its sample names (NAME_bucket, NAME_total ...). Label
  // values are bytes: what is not UTF-8 is written as the JSON Lines write it.
  void sample(const std::string& name, const Labels& labels, double value);
  void sample(const std::string& name, double value) { sample(name, {}, value); }

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// A number as the format writes it: integers without a point, "NaN", "+Inf", "-Inf".
std::string sampleValue(double value);

}  // namespace jrxlog
