#include "host/linux/PowerSupplyAttributes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace somnara::linuxhost {
namespace {

// How UPower shows several batteries as one (its display device, in
// up_daemon_update_display_battery): with two or more batteries the
// percentage is 100 · Σ energy / Σ energy_full over all of them, and the
// time to empty, while the composite discharges, 3600 · Σ energy / Σ
// energy_rate (the rates of batteries that are not draining are 0). A
// battery's capacity weighted by its energy_full comes to the same
// percentage; below, the same sums are taken in µAh where the batteries give
// no energy figures, and the time stays unknown where not every battery
// gives the amount it holds.

std::string attribute(const PowerSupplyAttributes& supply, const char* name) {
  const auto it = supply.find(name);
  return it == supply.end() ? std::string() : it->second;
}

std::optional<long long> number(const PowerSupplyAttributes& supply, const char* name) {
  const std::string text = attribute(supply, name);
  if (text.empty()) return std::nullopt;
  long long n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

bool discharging(const PowerSupplyAttributes& supply) { return attribute(supply, "status") == "Discharging"; }

// Minutes as a reading: from 0 to below 2^31, else nullopt.
std::optional<int> plausibleMinutes(double minutes) {
  if (!(minutes >= 0) || minutes >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
  return static_cast<int>(std::floor(minutes));
}

// The sum of a non-negative attribute over the batteries; nullopt when one
// of them does not give it.
std::optional<double> total(const std::vector<const PowerSupplyAttributes*>& batteries, const char* name) {
  double sum = 0;
  for (const PowerSupplyAttributes* battery : batteries) {
    const auto n = number(*battery, name);
    if (!n || *n < 0) return std::nullopt;
    sum += static_cast<double>(*n);
  }
  return sum;
}

// Minutes until amount (what every battery holds) is drained at the
// combined rate of the discharging ones. Some drivers report the drain as
// a negative rate.
std::optional<int> minutesAtCombinedDraw(const std::vector<const PowerSupplyAttributes*>& batteries,
                                         const char* amount, const char* rate) {
  const auto held = total(batteries, amount);
  if (!held) return std::nullopt;
  double draw = 0;
  for (const PowerSupplyAttributes* battery : batteries) {
    if (!discharging(*battery)) continue;
    const auto r = number(*battery, rate);
    if (!r) return std::nullopt;
    draw += std::fabs(static_cast<double>(*r));
  }
  if (draw == 0) return std::nullopt;
  return plausibleMinutes(*held / draw * 60.0);
}

std::optional<int> minutesToEmpty(const std::vector<const PowerSupplyAttributes*>& batteries) {
  if (std::none_of(batteries.begin(), batteries.end(), [](auto* b) { return discharging(*b); })) return std::nullopt;
  if (batteries.size() == 1)
    if (auto seconds = number(*batteries[0], "time_to_empty_now"); seconds && *seconds > 0)
      if (auto m = plausibleMinutes(static_cast<double>(*seconds) / 60.0)) return m;
  if (auto m = minutesAtCombinedDraw(batteries, "energy_now", "power_now")) return m;
  return minutesAtCombinedDraw(batteries, "charge_now", "current_now");
}

int percent(const PowerSupplyAttributes& battery) {
  return static_cast<int>(std::clamp<long long>(*number(battery, "capacity"), 0, 100));
}

int combinedPercent(const std::vector<const PowerSupplyAttributes*>& batteries) {
  for (const char* size : {"energy_full", "charge_full"}) {
    const auto whole = total(batteries, size);
    if (!whole || *whole <= 0) continue;
    double weighted = 0;
    for (const PowerSupplyAttributes* battery : batteries)
      weighted += percent(*battery) * static_cast<double>(*number(*battery, size));
    return static_cast<int>(std::floor(weighted / *whole));
  }
  long long sum = 0;
  for (const PowerSupplyAttributes* battery : batteries) sum += percent(*battery);
  return static_cast<int>(sum / static_cast<long long>(batteries.size()));
}

}  // namespace

host::PowerReading powerReadingOf(const std::vector<PowerSupplyAttributes>& supplies) {
  host::PowerReading reading;
  bool anyLineSupply = false, lineOnline = false, anyBatteryDraining = false;
  std::vector<const PowerSupplyAttributes*> batteries;
  for (const PowerSupplyAttributes& supply : supplies) {
    const std::string type = attribute(supply, "type");
    if (type == "Mains" || type == "USB") {
      anyLineSupply = true;
      if (number(supply, "online").value_or(0) == 1) lineOnline = true;
      continue;
    }
    // Batteries of peripherals (mice, keyboards) do not power the machine.
    if (type != "Battery" || attribute(supply, "scope") == "Device") continue;
    if (discharging(supply)) anyBatteryDraining = true;
    if (number(supply, "capacity"))
      batteries.push_back(&supply);
    else
      ++reading.unreadableBatteries;
  }
  if (!batteries.empty()) reading.battery = host::BatteryReading{combinedPercent(batteries), minutesToEmpty(batteries)};
  reading.onExternalPower = anyLineSupply ? lineOnline : !anyBatteryDraining;
  return reading;
}

}  // namespace somnara::linuxhost
