#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/PowerSources.h"

namespace somnara::linuxhost {

/// What one entry of sys/class/power_supply says: attribute name → the
/// file's contents without surrounding whitespace. An attribute that is
/// missing or cannot be read is absent.
using PowerSupplyAttributes = std::map<std::string, std::string>;

/// The attributes a reading looks at.
inline constexpr const char* kPowerSupplyAttributeNames[] = {
    "type", "scope", "status", "capacity", "online",
    "time_to_empty_now", "energy_now", "power_now", "charge_now", "current_now"};

/// The reading for these supplies, taken in the order given; nullopt
/// supplies: there is no power_supply directory (a desktop without the
/// class: on external power, no list of sources).
///
/// Every entry whose `type` is Battery (and whose `scope` is not Device, a
/// peripheral's battery) is one source:
///   percent         `capacity`, clamped to 0..100
///   minutesToEmpty  `time_to_empty_now` (seconds), else energy_now/power_now,
///                   else charge_now/current_now (hours; a negative rate is
///                   taken by its size); -1 when none of them gives a
///                   figure from 0 to below 2^31 minutes, or when `status`
///                   is not Discharging
/// A battery whose capacity is not a whole number has no reading.
/// External power: any Mains or USB supply with `online` 1; with no such
/// supply at all, any battery that is not discharging (or no battery).
host::PowerReading powerReadingOf(const std::optional<std::vector<PowerSupplyAttributes>>& supplies);

}  // namespace somnara::linuxhost
