#include "host/linux/DBusInsomniaService.h"

#include "host/linux/CallbackRegistration.h"

namespace somnara::linuxhost {

bool InsomniaBusObject::GetState(double& secondsLeft, QList<insomniabus::InhibitorWire>& inhibitors) {
  const auto state = handler_.state();
  secondsLeft = state.secondsLeft.value_or(-1.0);
  for (const auto& inhibitor : state.inhibitors) inhibitors.append({inhibitor});
  return state.on;
}

DBusInsomniaService::DBusInsomniaService(QDBusConnection sessionBus) : bus_(std::move(sessionBus)) {}

host::RegistrationPtr DBusInsomniaService::publish(Handler& handler) {
  if (!bus_.isConnected()) return nullptr;
  insomniabus::registerTypes();
  auto object = std::make_shared<InsomniaBusObject>(handler);
  if (!bus_.registerObject(insomniabus::kPath, object.get(), QDBusConnection::ExportAllSlots)) return nullptr;
  if (!bus_.registerService(insomniabus::kService)) {
    bus_.unregisterObject(insomniabus::kPath);
    return nullptr;
  }
  QDBusConnection bus = bus_;
  return CallbackRegistration::make([bus, object]() mutable {
    bus.unregisterService(insomniabus::kService);
    bus.unregisterObject(insomniabus::kPath);
  });
}

}  // namespace somnara::linuxhost
