// The JSON Lines records as the listings print them, in the order of the import format.
#include <boost/shared_ptr.hpp>
#include <nlohmann/json.hpp>

#include "ASHex.h"
#include "JsonRecords.h"

namespace jrxlog {

using ojson = nlohmann::ordered_json;

namespace {

ojson infoTo(const JRX::JRXInfo& info);

// A parameter that is a bare text is written as a string.
ojson valueTo(const JRX::JRXInfo& value) {
  if (value.getParameters().empty() && value.getId().empty() && value.getFlag())
    return textToJson(value.getText());
  return infoTo(value);
}

ojson infoTo(const JRX::JRXInfo& info) {
  ojson out = {{"text", textToJson(info.getText())}};
  if (!info.getId().empty()) out["id"] = textToJson(info.getId());
  if (!info.getFlag()) out["flag"] = false;
  const auto& params = info.getParameters();
  if (params.empty()) return out;
  ojson& p = out["params"] = ojson::object();
  for (auto it = params.begin(); it != params.end();) {
    const auto range = params.equal_range(it->first);
    ojson& named = p[textToJson(it->first)];
    if (std::next(range.first) == range.second)
      named = valueTo(it->second);
    else
      for (auto r = range.first; r != range.second; ++r) named.push_back(valueTo(r->second));
    it = range.second;
  }
  return out;
}

std::string dump(const ojson& v) { return v.dump(-1, ' ', false, ojson::error_handler_t::replace); }

}  // namespace

std::string cursorToJson(const std::string& cursor) {
  return dump({{"kind", "cursor"}, {"cursor", cursor}});
}

std::string sidToHex(const JRX::JRXSID& sid) {
  std::string out;
  ASAppendHex(out, sid.data.data(), sid.data.size());
  return out;
}

std::string envToJson(const EnvRecord& env) {
  return dump({{"kind", "env"},
               {"eid", env.eid.toString()},
               {"type", textToJson(env.type)},
               {"title", textToJson(env.title)}});
}

std::string progressToJson(const JRX::JRXRequestProgressData& r, const std::optional<long>* eta) {
  ojson out = {{"kind", "progress"},       {"id", textToJson(r.id)},
               {"parentId", textToJson(r.parentId)}, {"name", textToJson(r.name)},
               {"status", r.status},       {"progress", r.progress},
               {"time", r.time},           {"operands", ojson::array()}};
  for (const auto& g : r.operands) out["operands"].push_back(g.toString());
  out["sessionId"] = textToJson(r.sessionId.text);
  if (r.eid.isValid()) out["eid"] = r.eid.toString();
  out["info"] = infoTo(r.info);
  if (eta) out["eta"] = *eta ? ojson(**eta) : ojson(nullptr);
  return dump(out);
}

std::string eventToJson(const JRX::JRXEvent& e) {
  ojson out = {{"kind", "event"},         {"guid", e.guid.toString()},
               {"time", e.time},          {"category", textToJson(e.category)},
               {"type", textToJson(e.type)}, {"code", e.code}};
  if (!e.sid.data.empty()) out["sid"] = sidToHex(e.sid);
  if (e.eid.isValid()) out["eid"] = e.eid.toString();
  out["info"] = infoTo(e.info);
  if (auto audit = boost::dynamic_pointer_cast<JRX::JRXAuditEvent>(e.data))
    out["audit"] = {{"session", textToJson(audit->session)},
                    {"address", audit->address.toString()},
                    {"detail", textToJson(audit->detail)},
                    {"kind", audit->kind}};
  return dump(out);
}

std::string infoToJson(const JRX::JRXInfo& info) { return dump(infoTo(info)); }

}  // namespace jrxlog
