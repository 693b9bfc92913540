#include "ToolFixture.h"

namespace jrxtest {

const char* const kLocal = "0a0a0a0a-0000-4000-8000-000000000001";
const char* const kNode = "d3377d3c-a0d1-5d71-9947-f17125c357bb";
const char* const kVm1 = "11111111-1111-4111-8111-111111111111";
const char* const kVm2 = "22222222-2222-4222-8222-222222222222";

std::vector<nlohmann::json> ToolDb::parseLines(const ToolRun& r) {
  std::vector<nlohmann::json> v;
  for (const auto& line : r.lines()) {
    nlohmann::json j = nlohmann::json::parse(line);
    if (j.value("kind", "") != "env") v.push_back(std::move(j));
  }
  return v;
}

std::string progressLine(const std::string& id, const std::string& name, int status, int progress,
                         long long time, const std::string& text, const std::string& extra) {
  nlohmann::json j;
  j["kind"] = "progress";
  j["id"] = id;
  if (!name.empty()) j["name"] = name;
  j["status"] = status;
  j["progress"] = progress;
  j["time"] = time;
  j["info"] = {{"text", text}};
  std::string s = j.dump();
  if (!extra.empty()) s = s.substr(0, s.size() - 1) + "," + extra + "}";
  return s + "\n";
}

std::string envLine(const char* eid, const char* type, const char* title) {
  return nlohmann::json{{"kind", "env"}, {"eid", eid}, {"type", type}, {"title", title}}.dump() +
         "\n";
}

std::string eventLine(const std::string& guid, long long time, const std::string& type,
                      const std::string& extraParams, const std::string& extra) {
  std::string params = std::string("\"source_env\":{\"params\":{\"eid\":\"") + kNode +
                       "\",\"type\":\"node\",\"title\":\"host-1\"}}" + extraParams;
  return "{\"kind\":\"event\",\"guid\":\"" + guid + "\",\"time\":" + std::to_string(time) +
         ",\"category\":\"vm\",\"type\":\"" + type + "\",\"code\":7,\"info\":{\"text\":\"" + type +
         " happened\",\"params\":{" + params + "}}" + extra + "}\n";
}

std::vector<std::string> ids(const std::vector<nlohmann::json>& records) {
  std::vector<std::string> v;
  for (const auto& r : records) v.push_back(r.value("id", r.value("guid", std::string())));
  return v;
}

}  // namespace jrxtest
