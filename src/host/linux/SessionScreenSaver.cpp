#include "host/linux/SessionScreenSaver.h"

#include "host/linux/BusPeer.h"

namespace somnara::linuxhost {
namespace {

struct Service {
  const char* name;
  const char* path;
};

// Bus name and interface are the same; asked in this order.
constexpr Service kServices[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"},
};

}  // namespace

SessionScreenSaver::SessionScreenSaver(QDBusConnection sessionBus) : bus_(std::move(sessionBus)) {}

std::optional<bool> SessionScreenSaver::active() const {
  for (const auto& s : kServices) {
    const QString name = QString::fromLatin1(s.name);
    auto reply = BusPeer(bus_, name).call(QString::fromLatin1(s.path), name, QStringLiteral("GetActive"));
    if (reply && !reply->arguments().isEmpty()) return reply->arguments().first().toBool();
  }
  return std::nullopt;
}

bool SessionScreenSaver::simulateUserActivity() const {
  bool sent = false;
  for (const auto& s : kServices) {
    const QString name = QString::fromLatin1(s.name);
    sent |= BusPeer(bus_, name).send(QString::fromLatin1(s.path), name, QStringLiteral("SimulateUserActivity"));
  }
  return sent;
}

}  // namespace somnara::linuxhost
