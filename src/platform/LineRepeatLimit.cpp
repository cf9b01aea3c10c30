#include "platform/LineRepeatLimit.h"

namespace somnara::platform {

bool LineRepeatLimit::admit(const std::string& line, Clock::time_point now) {
  auto it = lastAdmitted_.find(line);
  if (it != lastAdmitted_.end()) {
    if (now - it->second < period_) return false;
    it->second = now;
    return true;
  }
  if (lastAdmitted_.size() >= kRememberedLines) lastAdmitted_.clear();
  lastAdmitted_.emplace(line, now);
  return true;
}

}  // namespace somnara::platform
