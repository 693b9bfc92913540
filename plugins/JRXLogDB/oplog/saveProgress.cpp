#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "oplog/LogOp.h"
#include "oplog/Players.h"
#include "store/ValueEncodings.h"
#include "JRXResultCodes.h"

namespace JRX {

using namespace logdb;

namespace {

const int kRightSaveProgress = 55;
const int kStarted = 1;
const int kRunning = 2;

// Refreshes the latest text of a running operation when the report repeats it. Returns
// false when the latest text differs (or there is none) and a new one must be appended;
// `untranslatable` tells that the report's information has no text form at all; `text` keeps
// the form that was compared, for the row to append.
bool foldRepeatedText(JRXRdbmsTran& tran, int op_id, const JRXRequestProgressData& record,
                      bool& untranslatable, std::string& text) {
  int dataId = 0;
  op_log_data latest;
  {
    ASCursor c(*tran);
    c.Project() << latest->data_id << latest->info;
    c.Set(latest->op_id == op_id);
    c.Order(-latest->data_id).Limit(1);
    // The operation's own rows, newest first; MariaDB would otherwise walk the whole table
    // backwards along its key when it guesses the operation's rows are many.
    c.UseIndex(latest, "op_log_data_op");
    if (!c.Fetch()) return false;
    dataId = static_cast<int>(latest.data_id.Int());
  }
  if (putInfoToString(record.info, text) != 0) {
    untranslatable = true;
    return false;
  }
  if (blobTextView(latest.info) != text) return false;
  // The table object that read the row names its columns for the update as well.
  ASUpdater up(latest);
  up << latest->progress.Set(ASOperand(record.progress))
     << latest->time.Set(ASOperand(timeToSql(record.time)));
  up.Where(latest->data_id == dataId && latest->op_id == op_id);
  up.Execute(*tran);
  return true;
}

}  // namespace

int JRXOpLogLocal::saveProgress(const JRXRequestProgressData& record) {
  beginCommand();
  // The set form narrows its argument to the permitted environments; the record stays whole.
  JRXEIDList operands = record.operands;
  if (JRXAccessChecker::getClientContext()->accessCheck(operands, kRightSaveProgress, true) != 0)
    return endCommand(JRXRequestErrorData(kRightRefused, ""));

  try {
    JRXRdbmsTran tran;
    OpState op;
    bool found = findOp(tran, record.id, op);

    if (found && record.status == kStarted) {
      Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", __LINE__, __func__,
           __PRETTY_FUNCTION__)
          .put(2, "[%s] New operation comes with the same ID (%s), delete old operation (time %lu)",
               "saveProgress", record.id.c_str(), static_cast<unsigned long>(op.time));
      deleteOp(tran, op.op_id);
      found = false;
    }

    int status = record.status;

    if (!found) {
      if (record.name.empty())
        return endCommand(JRXRequestErrorData(kDatabaseFailure, "Can't save operation without name"));
      insertOp(tran, record, status == 0 ? kStarted : status);
      tran.commit();
      return endCommand(JRXRequestErrorData(0, ""));
    }

    if (status == 0) status = kRunning;
    if (op.status != status) {
      op_log row;
      ASUpdater up(row);
      up << row->status.Set(ASOperand(status));
      up.Where(row->op_id == op.op_id);
      up.Execute(*tran);
      op.status = status;
    }

    Next(record).update(op.op_id, tran);

    std::string text;  // the information's text form, once compared
    if (op.status == kRunning) {
      bool untranslatable = false;
      if (foldRepeatedText(tran, op.op_id, record, untranslatable, text)) {
        tran.commit();
        return endCommand(JRXRequestErrorData(0, ""));
      }
      if (untranslatable)
        return endCommand(JRXRequestErrorData(kDatabaseFailure, "Can't translate information into text"));
    }

    logOpData(tran, op.op_id, record, status, text.empty() ? nullptr : &text);
    tran.commit();
    return endCommand(JRXRequestErrorData(0, ""));
  } catch (const AException& e) {
    onRdbmsError(e);
    return endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
}

}  // namespace JRX
