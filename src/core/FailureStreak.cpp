#include "core/FailureStreak.h"

#include <algorithm>

namespace somnara {

bool FailureStreak::allows(std::int64_t state, double now) const {
  return failures_ == 0 || state != state_ || now >= notBefore_;
}

void FailureStreak::failed(std::int64_t state, double now) {
  if (failures_ > 0 && state != state_) failures_ = 0;
  state_ = state;
  ++failures_;
  const int doublings = std::min(failures_ - 1, 16);
  const auto pause = std::min<std::chrono::seconds>(kFirstPause * (1 << doublings), kLongestPause);
  notBefore_ = now + static_cast<double>(pause.count());
}

void FailureStreak::reset() {
  failures_ = 0;
  logged_.clear();
}

bool FailureStreak::firstTime(const std::string& line) { return logged_.insert(line).second; }

}  // namespace somnara
