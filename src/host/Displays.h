#pragma once

#include <cstddef>

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

  /// Asks each active display, at most maxDisplays of them, to probe its
  /// connections again. Returns how many were asked; displays without a
  /// probe are passed over silently.
  virtual std::size_t probeActiveDisplays(std::size_t maxDisplays) = 0;
};

}  // namespace somnara::host
