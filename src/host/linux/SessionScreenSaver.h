#pragma once

#include <QDBusConnection>

#include <optional>

namespace somnara::linuxhost {

/// The session's screen saver on the session bus: org.freedesktop.ScreenSaver
/// (KDE, XFCE, LXQt, …) where it runs, else org.gnome.ScreenSaver (GNOME
/// Shell). All calls on the run loop's thread; each waits at most two seconds.
class SessionScreenSaver {
 public:
  explicit SessionScreenSaver(QDBusConnection sessionBus);

  /// GetActive: whether the screen saver (or lock screen) is in front;
  /// nullopt when no screen saver answers.
  std::optional<bool> active() const;

  /// SimulateUserActivity, not waited for: the session counts the user as
  /// present now (its idle time starts over). False when no screen saver runs.
  bool simulateUserActivity() const;

 private:
  QDBusConnection bus_;
};

}  // namespace somnara::linuxhost
