#include "host/sim/SimRunLoop.h"

#include <chrono>

namespace somnara::sim {

double SimRunLoop::now() const {
  return kStartOfTime + std::chrono::duration<double>(scheduler_.now()).count();
}

host::RunLoop::TimerId SimRunLoop::schedule(Duration delay, bool repeating, std::function<void()> fn) {
  return scheduler_.schedule(owner_, delay, repeating, std::move(fn));
}

void SimRunLoop::cancel(TimerId id) {
  // Ids are machine-wide; another program's timer is not ours to stop.
  if (scheduler_.ownerOf(id) == owner_) scheduler_.cancel(id);
}

void SimRunLoop::sleepBlocking(Duration d) { scheduler_.block(owner_, d); }

void SimRunLoop::post(std::function<void()> fn) { scheduler_.schedule(owner_, Duration{0}, false, std::move(fn)); }

}  // namespace somnara::sim
