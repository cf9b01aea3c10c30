#include "host/linux/SessionScreenSaver.h"

#include <memory>
#include <vector>

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

struct Watches final : host::Registration {
  std::vector<host::RegistrationPtr> each;
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

host::RegistrationPtr SessionScreenSaver::watchActiveChanged(std::function<void(bool)> onChange) const {
  auto watches = std::make_unique<Watches>();
  for (const auto& s : kServices) {
    const QString name = QString::fromLatin1(s.name);
    auto watch = BusPeer(bus_, name).watch(QString::fromLatin1(s.path), name, QStringLiteral("ActiveChanged"), {},
                                           [onChange](const QDBusMessage& m) {
                                             if (!m.arguments().isEmpty()) onChange(m.arguments().first().toBool());
                                           });
    if (!watch) return nullptr;
    watches->each.push_back(std::move(watch));
  }
  return watches;
}

}  // namespace somnara::linuxhost
