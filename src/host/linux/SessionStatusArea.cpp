#include "host/linux/SessionStatusArea.h"

namespace somnara::linuxhost {
namespace {

constexpr int kWatcherTimeoutMs = 500;

}  // namespace

SessionStatusArea::SessionStatusArea(QDBusConnection sessionBus) : hosts_(std::move(sessionBus), kWatcherTimeoutMs) {}

host::StatusArea::Kind SessionStatusArea::find() {
  if (hosts_.notifierHostPresent()) return Kind::StatusNotifierHost;
  return hosts_.embedTrayPresent() ? Kind::XEmbedTray : Kind::None;
}

}  // namespace somnara::linuxhost
