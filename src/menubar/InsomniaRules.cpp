#include "menubar/InsomniaRules.h"

namespace somnara {

InsomniaRules::Verdict InsomniaRules::verdict(const Settings& settings, const Conditions& conditions) {
  if (settings.stopWhenLocked && conditions.locked.value_or(false)) return Verdict::StopWhenLocked;
  if (!conditions.onBattery) return Verdict::Run;
  if (settings.onlyOnExternalPower) return Verdict::Pause;
  if (settings.batteryFloor > 0 && conditions.charge && *conditions.charge <= settings.batteryFloor)
    return Verdict::StopAtBatteryFloor;
  return Verdict::Run;
}

bool InsomniaRules::starts(const Settings& settings, const Conditions& before, const Conditions& now) {
  return settings.startOnExternalPower && before.onBattery && !now.onBattery;
}

std::string InsomniaRules::titleNote(const Settings& settings, const Conditions& conditions, Verdict verdict) {
  if (verdict == Verdict::Pause) return " (paused on battery)";
  if (verdict == Verdict::Run && conditions.onBattery && settings.batteryFloor > 0)
    return " (stops on battery at " + std::to_string(settings.batteryFloor) + " %)";
  return {};
}

bool InsomniaRules::watchesPowerSources(const Settings& settings, bool insomniaOn) {
  return settings.startOnExternalPower || (insomniaOn && (settings.batteryFloor > 0 || settings.onlyOnExternalPower));
}

bool InsomniaRules::watchesSessionLock(const Settings& settings, bool insomniaOn) {
  return insomniaOn && settings.stopWhenLocked;
}

}  // namespace somnara
