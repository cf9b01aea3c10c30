#pragma once

#include <QString>
#include <cstdint>

namespace somnara::linuxhost {

/// The desktop session's own inhibitor services on the session bus: GNOME's
/// session manager and the freedesktop PowerManagement interface (KDE, XFCE,
/// LXQt). Names, paths and GNOME's inhibit flags.
inline const QString kGnomeSession = QStringLiteral("org.gnome.SessionManager");
inline const QString kGnomeSessionPath = QStringLiteral("/org/gnome/SessionManager");
inline const QString kGnomeInhibitor = QStringLiteral("org.gnome.SessionManager.Inhibitor");
inline constexpr std::uint32_t kGnomeInhibitSuspend = 4;
inline constexpr std::uint32_t kGnomeInhibitIdle = 8;
inline const QString kPowerManagement = QStringLiteral("org.freedesktop.PowerManagement");
inline const QString kPowerManagementPath = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");
inline const QString kPowerManagementInhibit = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");

}  // namespace somnara::linuxhost
