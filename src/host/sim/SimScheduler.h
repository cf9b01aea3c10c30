#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

namespace somnara::sim {

/// The virtual clock and the timer queue shared by every program of a
/// simulated machine. Time only moves when a test advances it, when a
/// program blocks, or while a program waits for a tool.
///
/// Timers fire in order of due time, ties in the order they were scheduled.
/// The clock is set to each timer's due time as it fires, or left where it is
/// when the timer is late; it never moves backwards.
class SimScheduler {
 public:
  using TimerId = std::uint64_t;
  using OwnerId = int;
  using Duration = std::chrono::milliseconds;

  /// Virtual time since the machine started.
  Duration now() const { return now_; }

  /// Runs fn after delay (negative counts as 0) on behalf of owner; when
  /// repeating, again every delay (at least 1 ms) until cancelled. A repeating
  /// timer that is late fires once and then keeps to its original rhythm,
  /// skipping the slots it missed. A timer never fires inside its own call.
  /// Ids are never 0 and never reused.
  TimerId schedule(OwnerId owner, Duration delay, bool repeating, std::function<void()> fn);

  /// Unknown and finished ids are ignored.
  void cancel(TimerId id);
  /// The owner of a waiting timer; nullopt when it is not waiting.
  std::optional<OwnerId> ownerOf(TimerId id) const;

  /// The owner has ended: its timers are dropped and later ones never fire.
  void retire(OwnerId owner);
  bool isRetired(OwnerId owner) const { return retired_.count(owner) != 0; }

  /// Fires every timer due up to now + d (or up to the clock, when a timer's
  /// call moved it further), then leaves the clock at now + d or later. May be called from inside a timer (a program waiting for a tool
  /// keeps serving its loop); programs that are blocked do not fire meanwhile.
  void advance(Duration d);

  /// Fires what is due now, including work scheduled by what fires.
  void runPending() { advance(Duration{0}); }

  /// The owner blocks for d: the clock moves on by d while every other
  /// program keeps running; the owner's own timers fire late, once it is
  /// back in its loop.
  void block(OwnerId owner, Duration d);

  /// Timers waiting to fire.
  std::size_t pendingCount() const { return timers_.size(); }
  /// Timer callbacks run so far.
  std::uint64_t firedCount() const { return fired_; }

 private:
  using QueueKey = std::pair<Duration, std::uint64_t>;  // due time, scheduling order
  struct Timer {
    OwnerId owner;
    Duration interval;
    bool repeating;
    bool firing = false;
    QueueKey key;
    std::shared_ptr<std::function<void()>> fn;
  };

  void enqueue(TimerId id, Timer& timer, Duration due);
  /// The earliest timer due by target whose owner is not blocked.
  std::map<QueueKey, TimerId>::iterator nextDue(Duration target);

  Duration now_{0};
  std::uint64_t nextSeq_ = 1;
  TimerId nextId_ = 1;
  std::uint64_t fired_ = 0;
  std::map<QueueKey, TimerId> queue_;
  std::unordered_map<TimerId, Timer> timers_;
  std::multiset<OwnerId> blocked_;
  std::set<OwnerId> retired_;
};

}  // namespace somnara::sim
