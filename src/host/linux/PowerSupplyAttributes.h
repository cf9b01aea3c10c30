#pragma once

#include <map>
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
    "type",       "scope",      "status",      "capacity",  "online",      "time_to_empty_now",
    "energy_now", "energy_full", "power_now", "charge_now", "charge_full", "current_now"};

/// The reading for these supplies, taken in the order given.
///
/// Every entry whose `type` is Battery (and whose `scope` is not Device, a
/// peripheral's battery) is a battery of the machine; one whose `capacity`
/// is not a whole number is unreadable. The readable ones are combined as
/// UPower's display device combines them, in units the kernel gives:
///   percent         `capacity` (clamped to 0..100) of each battery, weighted
///                   by its size: energy_full (µWh) where every battery gives
///                   it, else charge_full (µAh) where every battery gives it,
///                   else equally; rounded down
///   minutesToEmpty  only while a battery is Discharging: all the energy left
///                   over the combined draw, Σ energy_now / Σ power_now of the
///                   discharging ones (hours; a negative rate is taken by its
///                   size), else the same with charge_now and current_now,
///                   each only where every battery gives its amount; a
///                   single battery's own time_to_empty_now (seconds) comes
///                   first. Unknown when none of them gives a figure from 0
///                   to below 2^31 minutes.
/// External power: any Mains or USB supply with `online` 1; with no such
/// supply at all, any battery that is not discharging (or no battery).
host::PowerReading powerReadingOf(const std::vector<PowerSupplyAttributes>& supplies);

}  // namespace somnara::linuxhost
