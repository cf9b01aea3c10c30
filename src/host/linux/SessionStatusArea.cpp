#include "host/linux/SessionStatusArea.h"

namespace somnara::linuxhost {
namespace {

constexpr int kWatcherTimeoutMs = 500;
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

}  // namespace

SessionStatusArea::SessionStatusArea(QDBusConnection sessionBus)
    : watcher_(std::move(sessionBus), kWatcher, kWatcherTimeoutMs) {}

host::StatusArea::Kind SessionStatusArea::find() {
  if (watcher_.present()) {
    const auto host = watcher_.property("/StatusNotifierWatcher", kWatcher, "IsStatusNotifierHostRegistered");
    if (host && host->toBool()) return Kind::StatusNotifierHost;
  }
  return x11_.systemTrayOwned().value_or(false) ? Kind::XEmbedTray : Kind::None;
}

}  // namespace somnara::linuxhost
