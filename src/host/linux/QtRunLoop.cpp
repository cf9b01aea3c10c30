#include "host/linux/QtRunLoop.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

namespace somnara::linuxhost {

QtRunLoop::QtRunLoop() = default;

QtRunLoop::~QtRunLoop() {
  for (auto& [id, timer] : timers_) delete timer;
  for (auto& [id, timer] : retired_) delete timer;
}

double QtRunLoop::now() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

host::RunLoop::TimerId QtRunLoop::schedule(Duration delay, bool repeating, std::function<void()> fn) {
  buryRetired();
  const TimerId id = nextId_++;
  auto* timer = new QTimer();
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(!repeating);
  // A repeating timer of 0 ms would spin the loop; one millisecond is the floor.
  const auto ms = delay.count() < 0 ? 0 : delay.count();
  timer->setInterval(repeating && ms == 0 ? 1 : static_cast<int>(std::min<long long>(ms, INT32_MAX)));
  auto shared = std::make_shared<std::function<void()>>(std::move(fn));
  QObject::connect(timer, &QTimer::timeout, timer, [this, id, repeating, shared] {
    // Keep the function alive even when it cancels its own timer.
    auto keep = shared;
    if (!repeating) retire(id);
    firing_.push_back(id);
    if (*keep) (*keep)();
    // Other finished timers go now; this one at the next occasion.
    buryRetired();
    firing_.pop_back();
  });
  timers_.emplace(id, timer);
  timer->start();
  return id;
}

void QtRunLoop::cancel(TimerId id) { retire(id); }

void QtRunLoop::retire(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  QTimer* timer = it->second;
  timers_.erase(it);
  timer->stop();
  retired_.emplace_back(id, timer);
}

void QtRunLoop::buryRetired() {
  for (auto it = retired_.begin(); it != retired_.end();) {
    if (std::find(firing_.begin(), firing_.end(), it->first) != firing_.end()) {
      ++it;
      continue;
    }
    delete it->second;
    it = retired_.erase(it);
  }
}

void QtRunLoop::sleepBlocking(Duration d) {
  if (d.count() > 0) std::this_thread::sleep_for(d);
}

}  // namespace somnara::linuxhost
