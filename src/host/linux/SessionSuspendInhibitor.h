#pragma once

#include <QDBusConnection>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace somnara::linuxhost {

/// The desktop's own automatic-suspend inhibitors on the session bus, held
/// from construction to destruction, each only where its service runs:
///   org.freedesktop.PowerManagement.Inhibit.Inhibit(application, reason)
///       (KDE PowerDevil, XFCE and LXQt power managers)
///   org.gnome.SessionManager.Inhibit(app_id, 0, reason, 4 = suspend)
///       (gnome-settings-daemon skips its idle suspend while one is held)
/// Both services also drop the inhibitors of a program that leaves the bus,
/// so nothing outlives the process. All calls on the run loop's thread.
class SessionSuspendInhibitor {
 public:
  SessionSuspendInhibitor(QDBusConnection sessionBus, const std::string& application, const std::string& reason);
  ~SessionSuspendInhibitor();
  SessionSuspendInhibitor(const SessionSuspendInhibitor&) = delete;
  SessionSuspendInhibitor& operator=(const SessionSuspendInhibitor&) = delete;

  /// Bus names of the services that granted an inhibitor.
  std::vector<std::string> grantedBy() const;

 private:
  QDBusConnection bus_;
  std::optional<std::uint32_t> powerManagementCookie_, gnomeSessionCookie_;
};

}  // namespace somnara::linuxhost
