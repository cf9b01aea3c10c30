#pragma once

#include <functional>

#include "host/RunLoop.h"
#include "host/sim/SimScheduler.h"

namespace somnara::sim {

/// One program's run loop over the machine's shared scheduler.
class SimRunLoop : public host::RunLoop {
 public:
  /// Wall-clock time of the machine's start: 2026-01-01T00:00:00Z.
  static constexpr double kStartOfTime = 1767225600.0;

  SimRunLoop(SimScheduler& scheduler, SimScheduler::OwnerId owner) : scheduler_(scheduler), owner_(owner) {}

  double now() const override;
  TimerId schedule(Duration delay, bool repeating, std::function<void()> fn) override;
  void cancel(TimerId id) override;
  /// Other programs keep running while this one blocks.
  void sleepBlocking(Duration d) override;

  /// Runs fn on this loop at the current virtual time, after the work
  /// already due; dropped once the program has ended.
  void post(std::function<void()> fn);

  SimScheduler::OwnerId owner() const { return owner_; }
  /// Virtual time since the machine started.
  Duration elapsed() const { return scheduler_.now(); }
  SimScheduler& scheduler() const { return scheduler_; }

 private:
  SimScheduler& scheduler_;
  SimScheduler::OwnerId owner_;
};

}  // namespace somnara::sim
