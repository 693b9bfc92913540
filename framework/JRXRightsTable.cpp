#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "JRXRequest.h"

namespace JRX {

bool JRXRightsTable::holds(const JRXEID& eid, int right) const {
  if (star_.count(right)) return true;
  if (!eid.isValid()) return false;
  auto it = rights_.find(eid);
  return it != rights_.end() && it->second.count(right) != 0;
}

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw std::runtime_error("ACL file " + path + ": " + what);
}

}  // namespace

std::shared_ptr<JRXRightsTable> JRXRightsTable::loadAclFile(const std::string& path,
                                                            const std::string& client) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path, "cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  return parseAcl(text.str(), client, path);
}

std::shared_ptr<JRXRightsTable> JRXRightsTable::parseAcl(const std::string& text,
                                                         const std::string& client,
                                                         const std::string& path) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    fail(path, std::string("is not valid JSON (") + e.what() + ")");
  }
  if (!doc.is_object() || !doc.contains("clients"))
    fail(path, "must be an object with a \"clients\" member");
  const auto& clients = doc["clients"];
  if (!clients.is_object()) fail(path, "\"clients\" must be an object");

  // The whole file is checked, not only the client asked for: a typo elsewhere would
  // otherwise surface only when that other client connects.
  auto table = std::make_shared<JRXRightsTable>();
  for (const auto& c : clients.items()) {
    const std::string where = "client \"" + c.key() + "\"";
    if (!c.value().is_object()) fail(path, where + " must map environments to rights");
    for (const auto& env : c.value().items()) {
      const std::string envWhere = where + ", environment \"" + env.key() + "\"";
      JRXEID eid;
      bool star = env.key() == "*";
      if (!star && eid.fromString(env.key().c_str()) != 0)
        fail(path, envWhere + ": not a GUID or \"*\"");
      if (!env.value().is_array()) fail(path, envWhere + ": rights must be a list of integers");
      for (const auto& r : env.value()) {
        if (!r.is_number_integer()) fail(path, envWhere + ": rights must be a list of integers");
        long long v = r.get<long long>();
        if (v < INT32_MIN || v > INT32_MAX) fail(path, envWhere + ": right out of range");
        if (c.key() != client) continue;
        if (star) table->grantEverywhere(static_cast<int>(v));
        else table->grant(eid, static_cast<int>(v));
      }
    }
  }
  return table;
}

}  // namespace JRX
