#pragma once

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "host/RunLoop.h"

class QTimer;

namespace somnara::linuxhost {

/// The program's run loop: the Qt event loop of the main thread. Timers are
/// QTimers owned by this object; callbacks run on the thread that created it.
class QtRunLoop final : public host::RunLoop {
 public:
  QtRunLoop();
  ~QtRunLoop() override;
  QtRunLoop(const QtRunLoop&) = delete;
  QtRunLoop& operator=(const QtRunLoop&) = delete;

  double now() const override;
  TimerId schedule(Duration delay, bool repeating, std::function<void()> fn) override;
  void cancel(TimerId id) override;
  void sleepBlocking(Duration d) override;

  /// Number of timers still scheduled.
  std::size_t pendingTimers() const { return timers_.size(); }

 private:
  void retire(TimerId id);
  void buryRetired();

  TimerId nextId_ = 1;
  std::map<TimerId, QTimer*> timers_;
  // Stopped timers not yet deleted, because one of them may be delivering
  // its timeout further up the stack (nested event loops included).
  std::vector<std::pair<TimerId, QTimer*>> retired_;
  std::vector<TimerId> firing_;
};

}  // namespace somnara::linuxhost
