#pragma once

#include <functional>
#include <optional>

#include "host/Registration.h"

namespace somnara::host {

/// Whether the user's session is locked: its lock screen (or a screen saver
/// that locks) is in front. All calls and callbacks on the run loop's thread.
class SessionLock {
 public:
  virtual ~SessionLock() = default;

  /// True while the session is locked, false while it is not; nullopt when
  /// that cannot be told (no session service answers).
  virtual std::optional<bool> locked() const = 0;

  /// Calls onChange(locked) on the run loop each time the session becomes
  /// locked or unlocked (a repeated state may be told again); null when such
  /// changes cannot be observed. Nothing is watched before this call, and
  /// nothing once the registration is destroyed: no timer runs either way.
  virtual RegistrationPtr observeLocked(std::function<void(bool locked)> onChange) = 0;
};

}  // namespace somnara::host
