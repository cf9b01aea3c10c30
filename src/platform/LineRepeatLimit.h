#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace somnara::platform {

/// Lets each distinct line through at most once per period: a line let
/// through less than period ago is held back. At most kRememberedLines lines
/// are remembered; one more distinct line forgets them all first, so a flood
/// of distinct lines is never held back.
class LineRepeatLimit {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kRememberedLines = 64;

  explicit LineRepeatLimit(Clock::duration period) : period_(period) {}

  /// Whether line may be written at now; a line let through counts from now.
  bool admit(const std::string& line, Clock::time_point now);

 private:
  Clock::duration period_;
  std::map<std::string, Clock::time_point> lastAdmitted_;
};

}  // namespace somnara::platform
