#include "Follow.h"

#include <iterator>
#include <stdexcept>

#include "StopSignals.h"

namespace jrxlog {

namespace {

const long long kLastKey = 9223372036854775807LL;
// Between polls that found less than a part.
const std::chrono::milliseconds kPollInterval(500);
// How long a writer may hold a key before it commits: far beyond one service call.
const std::chrono::seconds kPatience(120);

}  // namespace

bool FollowState::handle(long long key) {
  if (key <= settled_) return false;
  auto next = handled_.upper_bound(key);
  if (next != handled_.begin() && std::prev(next)->second >= key) return false;
  add(key, key);
  return true;
}

void FollowState::add(long long first, long long last) {
  // Merge with the intervals it touches or overlaps, then with `settled_`.
  auto it = handled_.upper_bound(first);
  if (it != handled_.begin() && std::prev(it)->second >= first - 1) {
    --it;
    first = it->first;
    last = std::max(last, it->second);
    it = handled_.erase(it);
  }
  while (it != handled_.end() && it->first <= last + 1) {
    last = std::max(last, it->second);
    it = handled_.erase(it);
  }
  if (first <= settled_ + 1) {
    settled_ = std::max(settled_, last);
  } else {
    handled_[first] = last;
  }
}

std::vector<JRX::JRXKeyRange> FollowState::wanted() const {
  std::vector<JRX::JRXKeyRange> ranges;
  long long from = settled_ + 1;
  for (const auto& interval : handled_) {
    ranges.push_back({from, interval.first - 1});
    from = interval.second + 1;
  }
  ranges.push_back({from, kLastKey});
  return ranges;
}

void FollowState::settle(Clock::time_point now, Clock::duration patience) {
  std::map<long long, Clock::time_point> since;
  std::vector<JRX::JRXKeyRange> lost;
  const std::vector<JRX::JRXKeyRange> missing = wanted();
  for (size_t i = 0; i + 1 < missing.size(); ++i) {  // the last one is what lies beyond
    auto known = missingSince_.find(missing[i].first);
    const Clock::time_point first = known == missingSince_.end() ? now : known->second;
    if (now - first >= patience)
      lost.push_back(missing[i]);
    else
      since[missing[i].first] = first;
  }
  missingSince_.swap(since);
  for (const auto& range : lost) add(range.first, range.last);
}

std::string FollowState::text() const {
  std::string out = std::to_string(settled_);
  for (const auto& interval : handled_) {
    out += ":" + std::to_string(interval.first);
    if (interval.second != interval.first) out += "-" + std::to_string(interval.second);
  }
  return out;
}

FollowState FollowState::parse(const std::string& text) {
  // Keys as text() writes them: digits without a leading zero, short of the last key, which
  // stands for all that lies beyond (and whose successor does not exist).
  auto number = [](const std::string& t) {
    if (t.empty() || t.size() > 19 || t.find_first_not_of("0123456789") != std::string::npos ||
        (t.size() > 1 && t[0] == '0') || std::stoull(t) >= static_cast<unsigned long long>(kLastKey))
      throw std::invalid_argument("not a key: " + t.substr(0, 20));
    return static_cast<long long>(std::stoull(t));
  };
  size_t colon = text.find(':');
  FollowState state(number(text.substr(0, colon)));
  long long last = state.settled_;
  while (colon != std::string::npos) {
    const size_t next = text.find(':', colon + 1);
    const std::string part = text.substr(colon + 1, next - colon - 1);
    const size_t dash = part.find('-');
    const long long first = number(part.substr(0, dash));
    const long long end = dash == std::string::npos ? first : number(part.substr(dash + 1));
    if (first <= last + 1 || end < first) throw std::invalid_argument("keys out of order");
    state.handled_[first] = end;
    last = end;
    colon = next;
  }
  return state;
}

void follow(FollowState& state, const FollowPoll& poll, size_t part) {
  StopSignals stop;
  while (!StopSignals::requested()) {
    const std::vector<long long> stored =
        poll(state.wanted(), [&](long long key) { return state.handle(key); });
    for (long long key : stored) state.handle(key);
    state.settle(FollowState::Clock::now(), kPatience);
    if (stored.size() < part) StopSignals::sleep(kPollInterval);
  }
}

}  // namespace jrxlog
