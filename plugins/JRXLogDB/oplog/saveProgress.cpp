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

// The statements of a report that repeats the latest text, run for most reports of a running
// operation: kept by the thread, their values put into the row's own members. The row's key
// read by the select is the one its update names.
struct LatestText {
  op_log_data row;
  ASCursor select;
  ASUpdater refresh{row};
  LatestText() {
    select.Project() << row->data_id << row->info;
    select.Set(row->op_id == ASBound(row.op_id));
    select.Order(-row->data_id).Limit(1);
    // The operation's own rows, newest first; MariaDB would otherwise walk the whole table
    // backwards along its key when it guesses the operation's rows are many.
    select.UseIndex(row, "op_log_data_op");
    refresh << row->progress.Set(ASBound(row.progress)) << row->time.Set(ASBound(row.time));
    refresh.Where(row->data_id == ASBound(row.data_id) && row->op_id == ASBound(row.op_id)).Keep();
  }
};

// Refreshes the latest text of a running operation when the report repeats it. Returns
// false when the latest text differs (or there is none) and a new one must be appended;
// `untranslatable` tells that the report's information has no text form at all; `text` keeps
// the form that was compared, for the row to append.
bool foldRepeatedText(JRXRdbmsTran& tran, int op_id, const JRXRequestProgressData& record,
                      bool& untranslatable, std::string& text) {
  thread_local LatestText latest;
  op_log_data& row = latest.row;
  row.op_id = op_id;
  if (!latest.select.Reopen(*tran).Fetch()) return false;
  if (putInfoToString(record.info, text) != 0) {
    untranslatable = true;
    return false;
  }
  if (blobTextView(row.info) != text) return false;
  row.progress = record.progress;
  row.time = timeToSql(record.time);
  latest.refresh.Execute(*tran);
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
