#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

#include "host/Inhibitors.h"

namespace somnara::linuxhost {

/// The agent's Insomnia on the session bus, shared by the agent's side
/// (DBusInsomniaService) and a caller's (DBusInsomniaRemote):
///   name        de.orvane.Somnara.MenuBar
///   object      /de/orvane/Somnara/Insomnia
///   interface   de.orvane.Somnara.Insomnia
///     Start(d seconds)                       below 1: without end
///     Stop()
///     GetState() -> (b on, d secondsLeft, a(ssssuusb) inhibitors)
///                                            secondsLeft -1: no end (or off)
/// An inhibitor is (who, why, what, mode, pid, uid, source, own): pid 0 and
/// uid 0xffffffff for unknown; source "logind", "gnome-session" or
/// "power-management".
namespace insomniabus {

inline const QString kService = QStringLiteral("de.orvane.Somnara.MenuBar");
inline const QString kPath = QStringLiteral("/de/orvane/Somnara/Insomnia");
inline const QString kInterface = QStringLiteral("de.orvane.Somnara.Insomnia");

/// One inhibitor as it crosses the bus.
struct InhibitorWire {
  host::Inhibitor inhibitor;
};

/// Registers InhibitorWire and its list with QtDBus; call before either crosses.
void registerTypes();

}  // namespace insomniabus
}  // namespace somnara::linuxhost

Q_DECLARE_METATYPE(somnara::linuxhost::insomniabus::InhibitorWire)

QDBusArgument& operator<<(QDBusArgument& argument, const somnara::linuxhost::insomniabus::InhibitorWire& wire);
const QDBusArgument& operator>>(const QDBusArgument& argument, somnara::linuxhost::insomniabus::InhibitorWire& wire);
