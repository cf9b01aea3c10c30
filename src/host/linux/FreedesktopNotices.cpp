#include "host/linux/FreedesktopNotices.h"

#include <QVariantMap>

namespace somnara::linuxhost {
namespace {

/// Milliseconds a notice stays; -1 leaves it to the server.
constexpr int kServerChoosesTimeout = -1;

}  // namespace

FreedesktopNotices::FreedesktopNotices(QDBusConnection sessionBus, std::string appName)
    : server_(std::move(sessionBus), QStringLiteral("org.freedesktop.Notifications")), appName_(std::move(appName)) {}

bool FreedesktopNotices::post(const std::string& summary, const std::string& body) {
  if (!server_.present()) return false;
  // Notify(app_name, replaces_id (0: a new notice), app_icon, summary, body, actions, hints, expire_timeout)
  return server_.send(QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
                      QStringLiteral("Notify"),
                      {QString::fromStdString(appName_), 0u, QString(), QString::fromStdString(summary),
                       QString::fromStdString(body), QStringList(), QVariantMap(), kServerChoosesTimeout});
}

}  // namespace somnara::linuxhost
