#include <string>
#include <vector>

#include "EventSteps.h"
#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "answers/JRXWriterData.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace JRX {

namespace {

const unsigned int kEventsCap = 6000;
const long kNoUpperBound = 2147483647;

void readPayload(const ASValue& column, boost::shared_ptr<JRXEventData>& out) {
  JRXAnyData any(1307);
  any.deserialize(static_cast<const char*>(column.voidptr()),
                  static_cast<uint32_t>(column.size()));
  // Without the default parser an unknown payload type stays unread instead of guessed.
  JRXReaderDerived<JRXEventData>(false).getObject(any.any(), 1913, out);
}

void queryEvents(std::vector<JRXEvent>* out, const JRXEID& eid, bool asSource,
                 unsigned int recordsLimit, const std::string& category,
                 const std::string& type, bool withData, long fromTime, long toTime) {
  JRXRdbmsTran tran;
  env_log env;
  events_log ev;
  events_log_env link;
  ASCursor c(*tran);
  c.Project() << env->eid << ev->time << ev->category << ev->type << ev->sid << ev->info_bin
              << ev->guid << ev->code << link->env_id;
  if (withData) c.Project() << ev->data;

  ASComparison cond(emptyStr(), nullptr, nullptr);
  cond = cond && ev->event_id == link->event_id && link->env_id == env->id;
  cond = cond && link->role == (asSource ? "S" : "O");
  if (eid.isValid()) cond = cond && env->eid == guidToRDBMSGuid(eid);
  if (!category.empty()) cond = cond && ev->category == category;
  if (!type.empty()) cond = cond && ev->type == type;
  if (fromTime != 0) cond = cond && ev->time > logdb::timeToSql(fromTime);
  if (toTime != kNoUpperBound) cond = cond && ev->time < logdb::timeToSql(toTime);
  c.Order(-ev->time).Limit(recordsLimit, 0);
  c.Set(cond);

  while (c.Fetch() && out->size() < recordsLimit) {
    out->push_back(JRXEvent("agent"));
    JRXEvent& e = out->back();
    e.eid = JRXEID(rdbmsGuidToGuid(env.eid.Guid()));
    e.guid.fromString(ev.guid.Str().c_str());
    e.time = logdb::sqlToTime(ev.time);
    e.category = ev.category.Str().str();
    e.type = ev.type.Str().str();
    e.code = static_cast<int>(ev.code.Int());
    e.sid = sqlToSid(ev.sid.Str());
    logdb::getInfoFromBinary(ev.info_bin.voidptr(), ev.info_bin.size(), e.info);
    if (withData) readPayload(ev.data, e.data);
  }
}

}  // namespace

int JRXEventLogLocal::getEvents(std::vector<JRXEvent>* out, const JRXEID& eid, bool asSource,
                                unsigned int limit, const std::string& category,
                                const std::string& type, bool withData, long fromTime,
                                long toTime) {
  beginCommand();
  if (JRXAccessChecker::getClientContext()->accessCheck(eid, 54) != 0)
    return JRXRequestLocal::endCommand(JRXRequestErrorData(414, ""));
  const unsigned int recordsLimit = getRecordsLimit(limit, kEventsCap);
  try {
    queryEvents(out, eid, asSource, recordsLimit, category, type, withData, fromTime, toTime);
  } catch (const AException& e) {
    onRdbmsError(e);
    return JRXRequestLocal::endCommand(JRXRequestErrorData(3101, e.Text().str()));
  }
  return endCommandWithAnswer(newJRXWriterData(*out, 1612), JRXRequestErrorData(0, ""));
}

}  // namespace JRX
