#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

namespace somnara {

/// A run of failed applications of one sleep state: how long to wait
/// before the next try, and which log lines were already written for it.
/// After the n-th failure in a row the state is tried again no sooner than
/// 3 s · 2^(n-1) later, at most 5 min; another state, or a success, is
/// tried at once. Times are seconds on the run loop's clock.
class FailureStreak {
 public:
  static constexpr std::chrono::seconds kFirstPause{3};
  static constexpr std::chrono::seconds kLongestPause{300};

  /// Whether state may be tried at time now.
  bool allows(std::int64_t state, double now) const;
  void failed(std::int64_t state, double now);
  /// Ends the streak: the next try of any state goes ahead, and every line
  /// may be logged again.
  void reset();

  /// True the first time line is offered during the streak (it should be
  /// logged); false for a repeat.
  bool firstTime(const std::string& line);

  int failures() const { return failures_; }

 private:
  int failures_ = 0;
  std::int64_t state_ = 0;
  double notBefore_ = 0;
  std::set<std::string> logged_;
};

}  // namespace somnara
