#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>
#include <string>

#include "host/Registration.h"

namespace somnara::linuxhost {

/// One service on one bus, as seen by a client: method calls that wait at
/// most timeoutMs, property reads and signal watches. A peer that is not on
/// the bus (or a bus that is not connected) makes every call fail quickly:
/// calls never start a service by bus activation. All calls on the thread
/// that made the connection.
class BusPeer {
 public:
  static constexpr int kDefaultTimeoutMs = 2000;

  BusPeer(QDBusConnection bus, QString service, int timeoutMs = kDefaultTimeoutMs);

  const QDBusConnection& bus() const { return bus_; }
  const QString& service() const { return service_; }
  bool busConnected() const { return bus_.isConnected(); }

  /// The service holds its name on the bus now.
  bool present() const;

  /// The reply to a method call; nullopt on an error reply, a timeout or no
  /// bus, with the reason in *error when given.
  std::optional<QDBusMessage> call(const QString& path, const QString& interface, const QString& method,
                                   const QList<QVariant>& args = {}, std::string* error = nullptr) const;

  /// Sends a method call without waiting for its reply; false when it could
  /// not be sent.
  bool send(const QString& path, const QString& interface, const QString& method,
            const QList<QVariant>& args = {}) const;

  /// A property's value, unwrapped from its D-Bus variant; nullopt when it
  /// cannot be read.
  std::optional<QVariant> property(const QString& path, const QString& interface, const QString& name) const;

  /// Calls onSignal on the thread's event loop for each matching signal of
  /// the service (also after it left and came back). argumentMatch filters
  /// on leading string arguments. Null when the bus refuses the watch.
  host::RegistrationPtr watch(const QString& path, const QString& interface, const QString& name,
                              const QStringList& argumentMatch, std::function<void(const QDBusMessage&)> onSignal);

  /// Calls onChange(changed, invalidated) for PropertiesChanged of interface at path.
  host::RegistrationPtr watchProperties(const QString& path, const QString& interface,
                                        std::function<void(const QVariantMap&, const QStringList&)> onChange);

  /// The value inside a D-Bus variant (also one nested in a QDBusArgument);
  /// any other value as it is.
  static QVariant unwrap(const QVariant& value);

 private:
  QDBusConnection bus_;
  QString service_;
  int timeoutMs_;
};

}  // namespace somnara::linuxhost
