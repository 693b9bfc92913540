#include <string>
#include <vector>

#include "EventQuery.h"
#include "JRXLogDBLocal.h"
#include "answers/JRXWriterData.h"
#include "JRXResultCodes.h"

namespace JRX {

namespace {

EventFilter filterOf(const JRXEID& eid, bool asSource, const std::string& category,
                     const std::string& type, bool withData, logdb::TimeRange range) {
  EventFilter filter;
  filter.eid = eid;
  filter.asSource = asSource;
  filter.category = category;
  filter.type = type;
  filter.withData = withData;
  filter.range = range;
  return filter;
}

}  // namespace

int JRXEventLogLocal::getEvents(std::vector<JRXEvent>* out, const JRXEID& eid, bool asSource,
                                unsigned int limit, const std::string& category,
                                const std::string& type, bool withData, long fromTime,
                                long toTime) {
  beginCommand();
  if (JRXAccessChecker::getClientContext()->accessCheck(eid, 54) != 0)
    return JRXRequestLocal::endCommand(JRXRequestErrorData(kRightRefused, ""));
  EventFilter filter = filterOf(eid, asSource, category, type, withData,
                                logdb::timeRangeOf(fromTime, toTime));
  filter.recordsLimit = getRecordsLimit(limit, kMaxEvents);
  try {
    // Only reads: the transaction is dropped uncommitted before the answer goes out.
    JRXRdbmsTran tran(AS_TRAN_READ);
    selectEvents(tran, filter, out);
  } catch (const AException& e) {
    onRdbmsError(e);
    return JRXRequestLocal::endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
  return endCommandWithAnswer(newJRXWriterData(*out, 1612), JRXRequestErrorData(0, ""));
}

int JRXEventLogLocal::getEventsAfter(std::vector<JRXEvent>* out,
                                     std::vector<JRXListingPlace>* places,
                                     const JRXListingPlace* after, const JRXEID& eid,
                                     bool asSource, unsigned int limit,
                                     const std::string& category, const std::string& type,
                                     bool withData, const JRXTimeBounds& bounds) {
  beginCommand();
  if (JRXAccessChecker::getClientContext()->accessCheck(eid, 54) != 0)
    return JRXRequestLocal::endCommand(JRXRequestErrorData(kRightRefused, ""));
  EventFilter filter = filterOf(eid, asSource, category, type, withData,
                                logdb::timeRangeWithin(bounds.from, bounds.to));
  filter.recordsLimit = getRecordsLimit(limit, kMaxEvents);
  filter.after = after;
  std::vector<JRXListingPlace> unasked;
  if (!out && !places) places = &unasked;
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    selectEvents(tran, filter, out, places);
  } catch (const AException& e) {
    onRdbmsError(e);
    return JRXRequestLocal::endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
  if (!out) return JRXRequestLocal::endCommand(JRXRequestErrorData(0, ""));
  return endCommandWithAnswer(newJRXWriterData(*out, 1612), JRXRequestErrorData(0, ""));
}

int JRXEventLogLocal::getEventsStored(std::vector<JRXEvent>* out,
                                      std::vector<JRXListingPlace>* places,
                                      std::vector<long long>* stored,
                                      const std::vector<JRXKeyRange>& ranges, unsigned int limit, const JRXEID& eid, bool asSource,
                                      const std::string& category, const std::string& type,
                                      bool withData, const JRXTimeBounds& bounds) {
  beginCommand();
  if (JRXAccessChecker::getClientContext()->accessCheck(eid, 54) != 0)
    return JRXRequestLocal::endCommand(JRXRequestErrorData(kRightRefused, ""));
  const EventFilter filter = filterOf(eid, asSource, category, type, withData,
                                      logdb::timeRangeWithin(bounds.from, bounds.to));
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    selectStoredEvents(tran, filter, ranges, getRecordsLimit(limit, kMaxEvents), *stored, out,
                       places);
  } catch (const AException& e) {
    onRdbmsError(e);
    return JRXRequestLocal::endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
  return endCommandWithAnswer(newJRXWriterData(*out, 1612), JRXRequestErrorData(0, ""));
}

int JRXEventLogLocal::getNewestKeys(std::vector<long long>* keys, unsigned int count) {
  beginCommand();
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    newestEventKeys(tran, count, *keys);
  } catch (const AException& e) {
    onRdbmsError(e);
    return JRXRequestLocal::endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
  return JRXRequestLocal::endCommand(JRXRequestErrorData(0, ""));
}

}  // namespace JRX
