#include "host/linux/LinuxTrayHosts.h"

#include <QDBusServiceWatcher>

#include "host/linux/CallbackRegistration.h"

namespace somnara::linuxhost {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

}  // namespace

LinuxTrayHosts::LinuxTrayHosts(QDBusConnection sessionBus, int timeoutMs)
    : watcher_(std::move(sessionBus), kWatcher, timeoutMs) {}

bool LinuxTrayHosts::notifierHostPresent() {
  if (!watcher_.present()) return false;
  const auto host =
      watcher_.property(QStringLiteral("/StatusNotifierWatcher"), kWatcher, QStringLiteral("IsStatusNotifierHostRegistered"));
  return host && host->toBool();
}

bool LinuxTrayHosts::embedTrayPresent() { return x11_.systemTrayOwned().value_or(false); }

host::RegistrationPtr LinuxTrayHosts::observeNotifierWatcher(std::function<void()> onChange) {
  if (!watcher_.busConnected()) return nullptr;
  auto* names = new QDBusServiceWatcher(kWatcher, watcher_.bus(), QDBusServiceWatcher::WatchForOwnerChange);
  const auto relay =
      QObject::connect(names, &QDBusServiceWatcher::serviceOwnerChanged, names, [fn = std::move(onChange)] { fn(); });
  return CallbackRegistration::make([names, relay] {
    // A notice may be on its way: it must find no one to call. (Only this
    // connection goes: the bus's own hooks rely on the watcher's others.)
    QObject::disconnect(relay);
    names->deleteLater();
  });
}

}  // namespace somnara::linuxhost
