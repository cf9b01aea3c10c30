#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/Constants.h"

namespace somnara {

/// The rules that stop, pause or start Insomnia by the power source and the
/// session's lock. Pure: the caller reads the settings and the machine.
class InsomniaRules {
 public:
  struct Settings {
    /// Percent: Insomnia running on battery stops at or below it; 0: never.
    std::int64_t batteryFloor = kDefaultInsomniaBatteryFloor;
    /// Insomnia pauses on battery and resumes on external power.
    bool onlyOnExternalPower = false;
    /// Insomnia starts when external power comes.
    bool startOnExternalPower = false;
    /// Insomnia stops when the session is locked.
    bool stopWhenLocked = false;
  };

  struct Conditions {
    bool onBattery = false;
    /// Battery charge in percent; nullopt when unknown.
    std::optional<std::int32_t> charge;
    /// Whether the session is locked; nullopt when that cannot be told.
    std::optional<bool> locked;
  };

  /// What a running (or starting) Insomnia does now. A locked session wins,
  /// then the pause on battery (a paused Insomnia keeps nothing awake, so
  /// the floor does not apply to it), then the floor.
  enum class Verdict { Run, Pause, StopAtBatteryFloor, StopWhenLocked };

  static Verdict verdict(const Settings& settings, const Conditions& conditions);
  static bool stops(Verdict verdict) {
    return verdict == Verdict::StopAtBatteryFloor || verdict == Verdict::StopWhenLocked;
  }

  /// Whether the change of conditions from before to now starts Insomnia
  /// (when it is off): external power came while the start rule is on.
  static bool starts(const Settings& settings, const Conditions& before, const Conditions& now);

  /// What the menu title adds while Insomnia is on with this verdict:
  /// " (paused on battery)", " (stops on battery at 10 %)" while it runs on
  /// battery above a floor, else "".
  static std::string titleNote(const Settings& settings, const Conditions& conditions, Verdict verdict);

  /// Which inputs the rules need watched while Insomnia is on or off.
  static bool watchesPowerSources(const Settings& settings, bool insomniaOn);
  static bool watchesSessionLock(const Settings& settings, bool insomniaOn);
};

}  // namespace somnara
