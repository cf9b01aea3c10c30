#pragma once

#include <string>

namespace somnara::host {

/// Short messages to the user in the desktop's notification bubbles. All
/// calls on the run loop's thread.
class DesktopNotices {
 public:
  virtual ~DesktopNotices() = default;

  /// Shows a notice with a one-line summary and a body text, without
  /// waiting for it to be shown; false when the desktop runs no
  /// notification server (nothing is shown then).
  virtual bool post(const std::string& summary, const std::string& body) = 0;
};

}  // namespace somnara::host
