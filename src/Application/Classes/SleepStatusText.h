#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "powertool/SleepCapabilities.h"

namespace somnara {

/// What decides what the machine does on sleep.
struct SleepStatusFacts {
  /// The sleep mode index as stored (1, adaptive, also on a machine without
  /// a battery, where it stands for the system default).
  std::int64_t chosenMode = 0;
  bool hasBattery = false;
  /// Battery charge (percent) and running time left (minutes, 0 counts as
  /// unknown); nullopt when unknown.
  std::optional<std::int32_t> charge, timeLeft;
  std::int64_t hibernateLevel = 20;
  powertool::SleepCapabilities capabilities = powertool::SleepCapabilities::all();
};

/// Why the machine does on sleep what the status line says, in one line:
/// the choice, in the adaptive mode the readings and the level they give,
/// and where the machine cannot do what was chosen, what it does instead.
std::string sleepStatusReason(const SleepStatusFacts& facts);

/// Why the sleep mode index mode cannot be chosen on this machine
/// ("This machine can't hibernate: no swap space"); nullopt when it can.
std::optional<std::string> unavailableModeReason(std::int64_t mode, const SleepStatusFacts& facts);

}  // namespace somnara
