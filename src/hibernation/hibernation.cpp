#include "hibernation/hibernation.h"

namespace somnara::hibernation {

std::optional<host::BatteryReading> hibernation_currentstate(const host::HostContext& context) {
  const host::PowerReading reading = context.powerSources().read();
  for (int i = 0; i < reading.unreadableBatteries; ++i)
    context.logger().diagnostic("hibernation.currentstate() : did not get IOPSGetPowerSourceDescription()");
  return reading.battery;
}

bool hibernation_machinehasbattery(const host::HostContext& context) {
  return hibernation_currentstate(context).has_value();
}

std::optional<std::int32_t> hibernation_currentchargestate(const host::HostContext& context) {
  const auto battery = hibernation_currentstate(context);
  if (!battery) return std::nullopt;
  return battery->percent;
}

std::optional<std::int32_t> hibernation_currenttimeleft(const host::HostContext& context) {
  const auto battery = hibernation_currentstate(context);
  if (!battery) return std::nullopt;
  return battery->minutesToEmpty;
}

std::optional<std::int32_t> hibernation_currenthibernationstate(const host::HostContext& context) {
  using Absence = host::HibernateModeReading::Absence;
  auto& diag = context.logger();
  const auto& pm = context.powerManager();
  if (!pm.sleepEnabled()) {
    diag.diagnostic("hibernation.currenthibernationstate(): machine does not support sleep.");
    return std::nullopt;
  }
  const host::HibernateModeReading reading = pm.hibernateMode();
  if (reading.mode) return reading.mode;
  if (reading.absence == Absence::NotRecorded)
    diag.diagnostic("hibernation.currenthibernationstate(): currentStatus: failure could not find hibernation key");
  else
    diag.diagnostic(
        "hibernation.currenthibernationstate(): currentStatus: failure Property Hibernate Mode not Number type");
  return std::nullopt;
}

}  // namespace somnara::hibernation
