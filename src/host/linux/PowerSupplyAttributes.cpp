#include "host/linux/PowerSupplyAttributes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace somnara::linuxhost {
namespace {

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

// Minutes as a reading: positive and below 2^31, else nullopt.
std::optional<std::int64_t> plausibleMinutes(double minutes) {
  if (!(minutes >= 0) || minutes >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
  return static_cast<std::int64_t>(std::floor(minutes));
}

std::int64_t minutesToEmpty(const PowerSupplyAttributes& supply) {
  if (attribute(supply, "status") != "Discharging") return -1;
  if (auto seconds = number(supply, "time_to_empty_now"); seconds && *seconds > 0)
    if (auto m = plausibleMinutes(static_cast<double>(*seconds) / 60.0)) return *m;
  // Some drivers report the drain as a negative rate.
  auto hoursFrom = [&](const char* amount, const char* rate) -> std::optional<std::int64_t> {
    const auto a = number(supply, amount);
    const auto r = number(supply, rate);
    if (!a || !r || *a < 0 || *r == 0) return std::nullopt;
    return plausibleMinutes(static_cast<double>(*a) / std::fabs(static_cast<double>(*r)) * 60.0);
  };
  if (auto m = hoursFrom("energy_now", "power_now")) return *m;
  if (auto m = hoursFrom("charge_now", "current_now")) return *m;
  return -1;
}

}  // namespace

host::PowerReading powerReadingOf(const std::optional<std::vector<PowerSupplyAttributes>>& supplies) {
  host::PowerReading reading;
  if (!supplies) {
    reading.onExternalPower = true;
    return reading;
  }
  reading.sources.emplace();
  bool anyLineSupply = false, lineOnline = false, anyBatteryDraining = false;
  for (const PowerSupplyAttributes& supply : *supplies) {
    const std::string type = attribute(supply, "type");
    if (type == "Mains" || type == "USB") {
      anyLineSupply = true;
      if (number(supply, "online").value_or(0) == 1) lineOnline = true;
      continue;
    }
    // Batteries of peripherals (mice, keyboards) do not power the machine.
    if (type != "Battery" || attribute(supply, "scope") == "Device") continue;
    if (attribute(supply, "status") == "Discharging") anyBatteryDraining = true;
    const auto capacity = number(supply, "capacity");
    if (!capacity) {
      reading.sources->push_back(std::nullopt);
      continue;
    }
    reading.sources->push_back(host::PowerSourceReading{std::clamp<long long>(*capacity, 0, 100), minutesToEmpty(supply)});
  }
  reading.onExternalPower = anyLineSupply ? lineOnline : !anyBatteryDraining;
  return reading;
}

}  // namespace somnara::linuxhost
