#include "host/linux/SessionScreenSaver.h"

#include "host/linux/BusPeer.h"

namespace somnara::linuxhost {
namespace {

struct Service {
  const char* name;
  const char* path;
};

// The same interface name as the bus name, in order of preference.
constexpr Service kServices[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"},
};

std::optional<BusPeer> runningScreenSaver(const QDBusConnection& bus, QString* path) {
  for (const auto& s : kServices) {
    BusPeer peer(bus, QString::fromLatin1(s.name));
    if (!peer.present()) continue;
    *path = QString::fromLatin1(s.path);
    return peer;
  }
  return std::nullopt;
}

}  // namespace

SessionScreenSaver::SessionScreenSaver(QDBusConnection sessionBus) : bus_(std::move(sessionBus)) {}

std::optional<bool> SessionScreenSaver::active() const {
  QString path;
  auto peer = runningScreenSaver(bus_, &path);
  if (!peer) return std::nullopt;
  auto reply = peer->call(path, peer->service(), QStringLiteral("GetActive"));
  if (!reply || reply->arguments().isEmpty()) return std::nullopt;
  return reply->arguments().first().toBool();
}

bool SessionScreenSaver::simulateUserActivity() const {
  QString path;
  auto peer = runningScreenSaver(bus_, &path);
  return peer && peer->send(path, peer->service(), QStringLiteral("SimulateUserActivity"));
}

}  // namespace somnara::linuxhost
