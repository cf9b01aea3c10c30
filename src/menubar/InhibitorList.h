#pragma once

#include <string>
#include <vector>

#include "core/KeyValueObservable.h"
#include "host/Inhibitors.h"

namespace somnara {

/// The locks keeping the machine awake, for the agent's menu, the
/// preferences window and the command line: the sleep and idle locks that
/// block, the other programs' first and Somnara's own after them, marked.
/// Delay locks are left out: they hold a sleep back for a few seconds at
/// most (logind's InhibitDelayMaxSec), they never keep the machine awake.
///
/// The list is read when someone starts looking (the menu opens, the window
/// shows) and, while anyone looks, again each time the services announce a
/// change; while nobody looks nothing is read or watched, so nothing wakes
/// the program. Observable property "inhibitors", announced when the list
/// read differs from the one before. All calls on the run loop's thread; the
/// port outlives the list.
class InhibitorList final : public KeyValueObservable {
 public:
  static constexpr const char* kProperty_inhibitors = "inhibitors";
  static constexpr const char* kNothingText = "Nothing is keeping the machine awake";
  static constexpr const char* kOwnMark = " \u2014 Somnara's own";

  explicit InhibitorList(host::Inhibitors& inhibitors) : port_(inhibitors) {}
  InhibitorList(const InhibitorList&) = delete;
  InhibitorList& operator=(const InhibitorList&) = delete;

  /// Someone starts looking: the list is read now and then kept current
  /// until the matching endLooking(). Lookers are counted.
  void beginLooking();
  void endLooking();
  bool looking() const { return lookers_ > 0; }

  /// Reads the list now, whoever looks.
  void refresh();

  /// The list as read last.
  const std::vector<host::Inhibitor>& inhibitors() const { return inhibitors_; }
  /// One line per lock, or the single line kNothingText.
  std::vector<std::string> lines() const { return linesFor(inhibitors_); }

  /// The locks of all that keep the machine awake, in the list's order.
  static std::vector<host::Inhibitor> keepingAwake(std::vector<host::Inhibitor> all);
  /// "who: why (what, mode, pid N)", the service where it is not logind,
  /// and kOwnMark for Somnara's own.
  static std::string describe(const host::Inhibitor& inhibitor);
  static std::vector<std::string> linesFor(const std::vector<host::Inhibitor>& inhibitors);

 private:
  host::Inhibitors& port_;
  int lookers_ = 0;
  host::RegistrationPtr changes_;
  std::vector<host::Inhibitor> inhibitors_;
};

}  // namespace somnara
