#include <string>

#include "EventSteps.h"
#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"
#include "JRXResultCodes.h"

namespace JRX {

namespace {

// Stores the event in its own transaction and gives the code (and message) the command ends
// with; the transaction is gone, committed or not, by the time this returns or throws.
int recordEvent(const JRXEvent& event, std::string& message) {
  JRXRdbmsTran tran;
  const std::string guid = event.guid.toString();
  events_log ev;
  {
    ASCursor known(*tran);
    known.Project() << ev->event_id;
    known.Set(ev->guid == guid);
    // A sender may deliver the same event again; the first delivery is the record.
    if (known.Fetch()) return 0;
  }

  std::string infoBin;
  if (logdb::putInfoToBinary(event.info, infoBin) != 0) {
    message = "Can't convert info data to binary";
    return kNotSerialisable;
  }
  const std::string infoText = event.info.toString();
  std::string data;
  if (event.data && logdb::putEventDataToBinary(event.data, data) != 0) {
    message = "Can't convert event data to binary";
    return kNotSerialisable;
  }

  ev.guid = guid;
  ev.code = event.code;
  ev.time = logdb::timeToSql(event.time);
  ev.category = event.category;
  ev.type = event.type;
  ev.sid = sidToSql(event.sid);
  ev.info_bin = RealBlob(infoBin.size(), infoBin.data(), false);
  ev.info = logdb::textBlob(infoText);
  if (event.data)
    ev.data = RealBlob(data.size(), data.data(), false);
  else
    ev.data.SetNull();
  // A delivery that meets a concurrent first one (another session, or another node of a
  // cluster) finds the event stored only now.
  if (!(*tran)->InsertNew(ev)) return 0;
  const int event_id = static_cast<int>((*tran)->GetInsertId());

  // A refusing step leaves the message empty; returning without commit undoes the rows.
  if (logEventEnvs(tran, event_id, event) != 0) return kDatabaseFailure;
  logAlertInfoIfExists(tran, event_id, event);
  if (event.type == "env_status" && logStatusChange(tran, event_id, event) != 0) return kDatabaseFailure;
  if (event.type == "audit" && logAudit(tran, event_id, event) != 0) return kDatabaseFailure;

  tran.commit();
  return 0;
}

}  // namespace

int JRXEventLogLocal::saveEvent(const JRXEvent& event) {
  beginCommand();
  std::string message;
  int code;
  try {
    code = recordEvent(event, message);
  } catch (const AException& e) {
    onRdbmsError(e);
    code = kDatabaseFailure;
    message = e.Text().str();
  }
  return JRXRequestLocal::endCommand(JRXRequestErrorData(code, message));
}

}  // namespace JRX
