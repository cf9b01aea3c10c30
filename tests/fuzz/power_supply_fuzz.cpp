// The power-supply reading on any attribute contents. Input: a first byte
// whose low bit says whether the power_supply directory exists, then
// supplies separated by 0x1e, each a list of "name=value" lines.
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "host/linux/PowerSupplyAttributes.h"

using namespace somnara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool directory = data[0] & 1;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<linuxhost::PowerSupplyAttributes> supplies;
  while (!rest.empty() || supplies.empty()) {
    const auto end = rest.find('\x1e');
    std::string_view supply = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    auto& attributes = supplies.emplace_back();
    while (!supply.empty()) {
      const auto nl = supply.find('\n');
      const std::string_view line = supply.substr(0, nl);
      supply = nl == std::string_view::npos ? std::string_view() : supply.substr(nl + 1);
      const auto eq = line.find('=');
      if (eq != std::string_view::npos) attributes[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    if (rest.empty()) break;
  }

  const host::PowerReading reading = linuxhost::powerReadingOf(directory ? std::optional(supplies) : std::nullopt);
  if (!directory) {
    if (reading.sources || !reading.onExternalPower) std::abort();
    return 0;
  }
  if (!reading.sources || reading.sources->size() > supplies.size()) std::abort();
  for (const auto& source : *reading.sources) {
    if (!source) continue;
    if (source->percent < 0 || source->percent > 100) std::abort();
    if (source->minutesToEmpty < -1 || source->minutesToEmpty >= std::numeric_limits<std::int32_t>::max()) std::abort();
  }
  return 0;
}
