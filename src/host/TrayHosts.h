#pragma once

#include <functional>

#include "host/Registration.h"

namespace somnara::host {

/// The desktop's status areas (trays) that can show a program's icon: a
/// StatusNotifierWatcher on the session bus with a host (a panel drawing
/// the items) registered, or an XEmbed system tray on the display. All
/// calls and callbacks on the run loop's thread.
class TrayHosts {
 public:
  virtual ~TrayHosts() = default;

  /// A StatusNotifierWatcher is on the session bus and says a host has
  /// registered with it.
  virtual bool notifierHostPresent() = 0;

  /// An XEmbed system tray owns its selection on the display's screen.
  virtual bool embedTrayPresent() = 0;

  /// Calls onChange each time the StatusNotifierWatcher's bus name gains an
  /// owner, loses it or passes to another. Null when changes cannot be watched.
  virtual RegistrationPtr observeNotifierWatcher(std::function<void()> onChange) = 0;
};

}  // namespace somnara::host
