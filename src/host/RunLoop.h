#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace somnara::host {

/// The program's main run loop and clock. Every callback of every port runs
/// on this loop.
class RunLoop {
 public:
  using TimerId = std::uint64_t;
  using Duration = std::chrono::milliseconds;

  virtual ~RunLoop() = default;

  /// Wall-clock time in seconds since 1970-01-01 UTC.
  virtual double now() const = 0;

  /// Runs fn after delay; when repeating, again every delay until cancelled.
  /// Ids are never 0 and never reused.
  virtual TimerId schedule(Duration delay, bool repeating, std::function<void()> fn) = 0;

  /// Stops a timer; unknown or already finished ids are ignored.
  virtual void cancel(TimerId id) = 0;

  /// Blocks the caller for d without serving timers or events.
  virtual void sleepBlocking(Duration d) = 0;
};

}  // namespace somnara::host
