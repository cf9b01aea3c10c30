// A second program on the session bus: answers each ("ping", "peer") with a
// ("pong", "peer") carrying the same user info, and quits on ("quit", "peer")
// or after 20 seconds. Announces itself with ("ready", "peer").
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>

#include "host/linux/DBusNotificationCenter.h"
#include "host/linux/SyslogLogger.h"

using namespace somnara;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  linuxhost::SyslogLogger logger("notification-peer");
  linuxhost::DBusNotificationCenter center(QDBusConnection::sessionBus(), logger);
  auto ping = center.observe("ping", "peer", [&](const host::Notification& n) {
    center.post({"pong", "peer", n.userInfo});
  });
  auto quit = center.observe("quit", "peer", [](const host::Notification&) { QCoreApplication::quit(); });
  if (!ping || !quit) return 2;
  QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
  center.post({"ready", "peer", std::nullopt});
  return app.exec();
}
