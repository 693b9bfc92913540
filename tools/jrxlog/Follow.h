// Following a listing: its records printed as they are stored, until a stop is requested.
//
// Keys are not commit order. A writer takes its key when it inserts and the row shows when
// it commits, so a row may show after rows with larger keys were read (two writers, or two
// nodes of a cluster); "the largest key seen" is no place to go on from. The follower keeps
// instead every key up to `settled` as handled, and beyond it the intervals of keys it has
// handled (printed, or stored but outside the filters). Each poll asks for the keys missing
// between those intervals as well as for all keys beyond them, so a row that commits late is
// found at its key whenever it shows. A stretch of missing keys is waited for `patience`: a
// key that stays missing that long belongs to a writer that rolled back (or to a row removed
// meanwhile) and is given up, so the intervals stay few. A follower restarted from its
// cursor goes on with the same intervals.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "JRXLogDBLocal.h"

namespace jrxlog {

class FollowState {
 public:
  using Clock = std::chrono::steady_clock;

  explicit FollowState(long long settled = 0) : settled_(settled) {}
  // Marks `key` handled; false when it was already.
  bool handle(long long key);
  // The keys to ask for, in key order: those missing between handled ones, then all beyond.
  std::vector<JRX::JRXKeyRange> wanted() const;
  // Gives up the stretches of missing keys first seen missing `patience` before `now`.
  void settle(Clock::time_point now, Clock::duration patience);
  long long settled() const { return settled_; }

  // "SETTLED" and ":FIRST[-LAST],..." for the intervals beyond it; parse throws
  // std::invalid_argument for anything else.
  std::string text() const;
  static FollowState parse(const std::string& text);

 private:
  void add(long long first, long long last);

  long long settled_;
  std::map<long long, long long> handled_;  // first -> last; apart from each other and settled_
  std::map<long long, Clock::time_point> missingSince_;  // by the first key of a stretch
};

// One poll: reads the keys of `wanted` stored now (returned, in key order) and prints the
// matching records among them whose key `fresh` accepts (it accepts each key once).
using FollowPoll = std::function<std::vector<long long>(
    const std::vector<JRX::JRXKeyRange>& wanted, const std::function<bool(long long)>& fresh)>;

// Polls until SIGINT, SIGTERM or SIGHUP (right away again while a poll brings `part` keys);
// `state` is where it stands, also when a poll throws.
void follow(FollowState& state, const FollowPoll& poll, size_t part);

}  // namespace jrxlog
