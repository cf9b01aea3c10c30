#include "host/linux/BusPeer.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>
#include <QDBusVariant>

#include "host/linux/CallbackRegistration.h"
#include "host/linux/DBusSignalRelay.h"

namespace somnara::linuxhost {
namespace {

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace

BusPeer::BusPeer(QDBusConnection bus, QString service, int timeoutMs)
    : bus_(std::move(bus)), service_(std::move(service)), timeoutMs_(timeoutMs) {}

bool BusPeer::present() const {
  if (!bus_.isConnected() || !bus_.interface()) return false;
  const QDBusReply<bool> reply = bus_.interface()->isServiceRegistered(service_);
  return reply.isValid() && reply.value();
}

std::optional<QDBusMessage> BusPeer::call(const QString& path, const QString& interface, const QString& method,
                                          const QList<QVariant>& args, std::string* error) const {
  if (!bus_.isConnected()) {
    if (error) *error = "bus not connected";
    return std::nullopt;
  }
  QDBusMessage m = QDBusMessage::createMethodCall(service_, path, interface, method);
  m.setArguments(args);
  m.setAutoStartService(false);
  QDBusMessage reply = bus_.call(m, QDBus::Block, timeoutMs_);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    if (error) *error = (reply.errorName() + ": " + reply.errorMessage()).toStdString();
    return std::nullopt;
  }
  return reply;
}

bool BusPeer::send(const QString& path, const QString& interface, const QString& method,
                   const QList<QVariant>& args) const {
  if (!bus_.isConnected()) return false;
  QDBusMessage m = QDBusMessage::createMethodCall(service_, path, interface, method);
  m.setArguments(args);
  m.setAutoStartService(false);
  return bus_.send(m);
}

std::optional<QVariant> BusPeer::property(const QString& path, const QString& interface, const QString& name) const {
  auto reply = call(path, kProperties, QStringLiteral("Get"), {interface, name});
  if (!reply || reply->arguments().isEmpty()) return std::nullopt;
  return unwrap(reply->arguments().first());
}

host::RegistrationPtr BusPeer::watch(const QString& path, const QString& interface, const QString& name,
                                     const QStringList& argumentMatch,
                                     std::function<void(const QDBusMessage&)> onSignal) {
  if (!bus_.isConnected()) return nullptr;
  auto* relay = new DBusSignalRelay(std::move(onSignal));
  if (!bus_.connect(service_, path, interface, name, argumentMatch, QString(), relay, SLOT(deliver(QDBusMessage)))) {
    delete relay;
    return nullptr;
  }
  QDBusConnection bus = bus_;
  const QString service = service_;
  return CallbackRegistration::make([bus, service, path, interface, name, argumentMatch, relay]() mutable {
    bus.disconnect(service, path, interface, name, argumentMatch, QString(), relay, SLOT(deliver(QDBusMessage)));
    // A delivery may be under way further up the stack, or already queued.
    relay->disarm();
    relay->deleteLater();
  });
}

host::RegistrationPtr BusPeer::watchProperties(const QString& path, const QString& interface,
                                               std::function<void(const QVariantMap&, const QStringList&)> onChange) {
  return watch(path, kProperties, QStringLiteral("PropertiesChanged"), {interface},
               [interface, fn = std::move(onChange)](const QDBusMessage& m) {
                 const auto args = m.arguments();
                 if (args.size() < 3 || args[0].toString() != interface) return;
                 QVariantMap changed = qdbus_cast<QVariantMap>(args[1]);
                 for (auto it = changed.begin(); it != changed.end(); ++it) *it = unwrap(*it);
                 fn(changed, qdbus_cast<QStringList>(args[2]));
               });
}

QVariant BusPeer::unwrap(const QVariant& value) {
  if (value.userType() == qMetaTypeId<QDBusVariant>()) return unwrap(value.value<QDBusVariant>().variant());
  if (value.userType() == qMetaTypeId<QDBusArgument>()) {
    const auto arg = value.value<QDBusArgument>();
    if (arg.currentType() == QDBusArgument::VariantType) return unwrap(qdbus_cast<QDBusVariant>(arg).variant());
  }
  return value;
}

}  // namespace somnara::linuxhost
