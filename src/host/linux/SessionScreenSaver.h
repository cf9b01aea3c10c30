#pragma once

#include <QDBusConnection>

#include <functional>
#include <optional>

#include "host/Registration.h"

namespace somnara::linuxhost {

/// The session's screen saver on the session bus: org.freedesktop.ScreenSaver
/// (KDE, XFCE, LXQt, …) and org.gnome.ScreenSaver (GNOME Shell; GNOME's own
/// org.freedesktop.ScreenSaver only offers inhibitors). All calls on the run
/// loop's thread; a call waits at most two seconds per service.
class SessionScreenSaver {
 public:
  explicit SessionScreenSaver(QDBusConnection sessionBus);

  /// GetActive of the first service that answers: whether the screen saver
  /// (or lock screen) is in front; nullopt when none answers.
  std::optional<bool> active() const;

  /// SimulateUserActivity to both services, not waited for: the session
  /// counts the user as present now (its idle time starts over). False when
  /// the bus is not connected.
  bool simulateUserActivity() const;

  /// Calls onChange(active) for each ActiveChanged signal of either service
  /// (also one that starts later); null when the bus refuses the watches.
  host::RegistrationPtr watchActiveChanged(std::function<void(bool active)> onChange) const;

 private:
  QDBusConnection bus_;
};

}  // namespace somnara::linuxhost
