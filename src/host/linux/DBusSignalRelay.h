#pragma once

#include <QDBusMessage>
#include <QObject>

#include <functional>

namespace somnara::linuxhost {

/// A receiver for QDBusConnection::connect that hands every matching signal
/// message to a function. Connect with SLOT(deliver(QDBusMessage)).
class DBusSignalRelay final : public QObject {
  Q_OBJECT

 public:
  explicit DBusSignalRelay(std::function<void(const QDBusMessage&)> handler, QObject* parent = nullptr);

  /// Drops the handler: signals already queued for this relay reach nobody.
  void disarm() { handler_ = nullptr; }

 public slots:
  void deliver(const QDBusMessage& message);

 private:
  std::function<void(const QDBusMessage&)> handler_;
};

}  // namespace somnara::linuxhost
