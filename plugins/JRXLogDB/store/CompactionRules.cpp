#include "store/CompactionRules.h"

#include <cstdint>

namespace JRX {

ASComparison compactedOps(const op_log& t, int age, time_t now) {
  // The column holds 32-bit seconds; the threshold wraps the way the stored times do.
  const uint32_t seconds = static_cast<uint32_t>(static_cast<uint64_t>(now));
  const int threshold = static_cast<int>(seconds - static_cast<uint32_t>(age));
  return t->time <= threshold && !(t->status == 1 || t->status == 2);
}

bool compactedEventsThrough(ASSession* s, int keep, long long& threshold) {
  events_log ev;
  ASCursor c(s);
  c.Project() << ev->event_id;
  c.Order(-ev->event_id).Limit(1, static_cast<unsigned int>(keep));
  if (!c.Fetch()) return false;
  threshold = ev.event_id.Int();
  return true;
}

}  // namespace JRX
