#include "host/linux/DBusNotificationCenter.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

#include "host/linux/CallbackRegistration.h"
#include "host/linux/DBusSignalRelay.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {

struct DBusNotificationCenter::State {
  State(QDBusConnection c, host::Logger& l) : connection(std::move(c)), logger(l) {}
  QDBusConnection connection;
  host::Logger& logger;
  QObject relays;  // parent of every observer's relay
  bool reportedDown = false;

  bool connected() {
    if (connection.isConnected()) {
      reportedDown = false;
      return true;
    }
    if (!reportedDown) {
      reportedDown = true;
      const QString why = connection.lastError().message();
      logger.log("Distributed notifications unavailable: session bus not connected" +
                 (why.isEmpty() ? std::string() : " (" + why.toStdString() + ")"));
    }
    return false;
  }
};

DBusNotificationCenter::DBusNotificationCenter(QDBusConnection connection, host::Logger& logger)
    : state_(std::make_shared<State>(std::move(connection), logger)) {}

DBusNotificationCenter::~DBusNotificationCenter() = default;

void DBusNotificationCenter::post(const host::Notification& notification) {
  if (!state_->connected()) return;
  QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kMember);
  signal << QString::fromStdString(notification.name) << QString::fromStdString(notification.object)
         << (notification.userInfo ? QString::fromStdString(plist::toXml(*notification.userInfo)) : QString());
  if (!state_->connection.send(signal))
    state_->logger.log("Could not post notification " + notification.name + ": " +
                       state_->connection.lastError().message().toStdString());
}

host::RegistrationPtr DBusNotificationCenter::observe(const std::string& name, const std::string& object,
                                                      std::function<void(const host::Notification&)> onNotification) {
  if (!state_->connected()) return nullptr;
  State* s = state_.get();
  auto* relay = new DBusSignalRelay([s, name, object, fn = std::move(onNotification)](const QDBusMessage& m) {
    const QList<QVariant> args = m.arguments();
    if (args.size() != 3) return;
    host::Notification n{args[0].toString().toStdString(), args[1].toString().toStdString(), std::nullopt};
    // The bus filters by arguments too, but a match rule is only a hint.
    if (n.name != name || n.object != object) return;
    const QString info = args[2].toString();
    if (!info.isEmpty()) {
      std::string error;
      n.userInfo = plist::parse(info.toStdString(), &error);
      if (!n.userInfo) {
        s->logger.diagnostic("Dropped notification " + name + " with unreadable user info: " + error);
        return;
      }
    }
    auto call = fn;
    call(n);
  }, &s->relays);
  const QStringList match{QString::fromStdString(name), QString::fromStdString(object)};
  if (!s->connection.connect(QString(), kPath, kInterface, kMember, match, QStringLiteral("sss"), relay,
                             SLOT(deliver(QDBusMessage)))) {
    s->logger.log("Cannot observe notification " + name + ": " + s->connection.lastError().message().toStdString());
    delete relay;
    return nullptr;
  }
  std::weak_ptr<State> weak = state_;
  return CallbackRegistration::make([weak, relay, match] {
    auto st = weak.lock();
    if (!st) return;  // the relay went with the centre
    st->connection.disconnect(QString(), kPath, kInterface, kMember, match, QStringLiteral("sss"), relay,
                              SLOT(deliver(QDBusMessage)));
    // Signals already queued must not reach the withdrawn observer; the relay
    // itself may be delivering right now, so it goes later.
    relay->disarm();
    relay->deleteLater();
  });
}

}  // namespace somnara::linuxhost
