#include "host/sim/SimScheduler.h"

#include <algorithm>
#include <vector>

namespace somnara::sim {

SimScheduler::TimerId SimScheduler::schedule(OwnerId owner, Duration delay, bool repeating,
                                             std::function<void()> fn) {
  const TimerId id = nextId_++;
  if (retired_.count(owner) || !fn) return id;
  delay = std::max(delay, Duration{0});
  Timer timer{owner, repeating ? std::max(delay, Duration{1}) : delay, repeating, false, {},
              std::make_shared<std::function<void()>>(std::move(fn))};
  auto& stored = timers_.emplace(id, std::move(timer)).first->second;
  enqueue(id, stored, now_ + delay);
  return id;
}

void SimScheduler::enqueue(TimerId id, Timer& timer, Duration due) {
  timer.key = {due, nextSeq_++};
  queue_.emplace(timer.key, id);
}

void SimScheduler::cancel(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  queue_.erase(it->second.key);
  timers_.erase(it);
}

std::optional<SimScheduler::OwnerId> SimScheduler::ownerOf(TimerId id) const {
  auto it = timers_.find(id);
  if (it == timers_.end()) return std::nullopt;
  return it->second.owner;
}

void SimScheduler::retire(OwnerId owner) {
  retired_.insert(owner);
  std::vector<TimerId> doomed;
  for (const auto& [id, timer] : timers_)
    if (timer.owner == owner) doomed.push_back(id);
  for (TimerId id : doomed) cancel(id);
}

std::map<SimScheduler::QueueKey, SimScheduler::TimerId>::iterator SimScheduler::nextDue(Duration target) {
  for (auto it = queue_.begin(); it != queue_.end() && it->first.first <= target; ++it)
    if (!blocked_.count(timers_.at(it->second).owner)) return it;
  return queue_.end();
}

void SimScheduler::advance(Duration d) {
  const Duration target = now_ + std::max(d, Duration{0});
  // Time a callback spent blocked or waiting counts too: what became due
  // meanwhile fires as soon as control is back in the loop.
  for (auto it = nextDue(std::max(target, now_)); it != queue_.end(); it = nextDue(std::max(target, now_))) {
    const Duration due = it->first.first;
    const TimerId id = it->second;
    queue_.erase(it);
    now_ = std::max(now_, due);
    Timer& timer = timers_.at(id);
    std::shared_ptr<std::function<void()>> fn = timer.fn;
    if (!timer.repeating) {
      timers_.erase(id);
      ++fired_;
      (*fn)();
      continue;
    }
    Duration next = due + timer.interval;
    if (next <= now_) next += ((now_ - next) / timer.interval + 1) * timer.interval;
    enqueue(id, timer, next);
    if (timer.firing) continue;  // came due again inside its own call: that slot is skipped
    timer.firing = true;
    ++fired_;
    (*fn)();
    if (auto again = timers_.find(id); again != timers_.end()) again->second.firing = false;
  }
  now_ = std::max(now_, target);
}

void SimScheduler::block(OwnerId owner, Duration d) {
  auto mark = blocked_.insert(owner);
  advance(d);
  blocked_.erase(mark);
}

}  // namespace somnara::sim
