#include "host/linux/DBusSignalRelay.h"

namespace somnara::linuxhost {

DBusSignalRelay::DBusSignalRelay(std::function<void(const QDBusMessage&)> handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

void DBusSignalRelay::deliver(const QDBusMessage& message) {
  // The handler may delete this relay; keep the function alive for the call.
  auto handler = handler_;
  if (handler) handler(message);
}

}  // namespace somnara::linuxhost
