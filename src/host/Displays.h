#pragma once

#include <cstddef>
#include <functional>

#include "host/Registration.h"

namespace somnara::host {

/// The machine's displays and whether the user looks at them. All calls on
/// the run loop's thread; none of them blocks for long.
class Displays {
 public:
  virtual ~Displays() = default;

  /// Whether the main display is asleep (powered down by display power
  /// management); false when that cannot be told.
  virtual bool mainDisplayAsleep() const = 0;

  /// Whether the session's screen saver (or screen lock) is in front; false
  /// when that cannot be told.
  virtual bool screenSaverActive() const = 0;

  /// Calls onChange(asleep) on the run loop each time the main display goes
  /// to sleep or wakes (a repeated state may be told again). Null where no
  /// change notice exists: mainDisplayAsleep() is then the only way to know.
  /// Nothing is watched before this call, nor once the registration is
  /// destroyed; no timer runs either way.
  virtual RegistrationPtr observeMainDisplayAsleep(std::function<void(bool asleep)> onChange) = 0;

  /// The same for the screen saver coming to the front or leaving it.
  virtual RegistrationPtr observeScreenSaver(std::function<void(bool active)> onChange) = 0;

  /// Asks each active display, at most maxDisplays of them, to probe its
  /// connections again. Returns how many were asked; displays without a
  /// probe are passed over silently.
  virtual std::size_t probeActiveDisplays(std::size_t maxDisplays) = 0;
};

}  // namespace somnara::host
