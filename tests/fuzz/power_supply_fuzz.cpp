// The power-supply reading on any attribute contents. Input: a first byte
// whose low bit says whether there are supplies at all, then supplies
// separated by 0x1e, each a list of "name=value" lines.
#include <cstdint>
#include <cstdlib>
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

  if (!directory) supplies.clear();
  const host::PowerReading reading = linuxhost::powerReadingOf(supplies);
  if (!directory && (reading.battery || reading.unreadableBatteries != 0 || !reading.onExternalPower)) std::abort();
  if (reading.battery) {
    if (reading.battery->percent < 0 || reading.battery->percent > 100) std::abort();
    if (reading.battery->minutesToEmpty && *reading.battery->minutesToEmpty < 0) std::abort();
  }
  if (reading.unreadableBatteries < 0 || static_cast<std::size_t>(reading.unreadableBatteries) > supplies.size())
    std::abort();
  return 0;
}
