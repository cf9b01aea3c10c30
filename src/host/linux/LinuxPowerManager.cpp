#include "host/linux/LinuxPowerManager.h"

#include <charconv>
#include <sstream>

namespace somnara::linuxhost {

LinuxPowerManager::LinuxPowerManager(MachineRoot root) : root_(std::move(root)) {}

bool LinuxPowerManager::sleepEnabled() const {
  const auto states = root_.read("/sys/power/state", 4096);
  if (!states) return false;
  std::istringstream words(*states);
  std::string word;
  while (words >> word)
    if (word == "mem" || word == "disk") return true;
  return false;
}

std::optional<Value> LinuxPowerManager::rootDomainProperty(const std::string& key) const {
  if (key != "Hibernate Mode") return std::nullopt;
  const auto text = MachineRoot::readValue(root_.path("/run/somnara/hibernatemode"));
  if (!text) return std::nullopt;
  const std::string& t = *text;
  long long n = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
  if (!t.empty() && ec == std::errc() && end == t.data() + t.size()) return Value(n);
  return Value(t);
}

powertool::SavedPowerSettings LinuxPowerManager::savedSettings() const {
  std::string error;
  auto bytes = MachineRoot::readFile(root_.path("/etc/somnara/PowerManagement.plist"), 16 << 20, &error);
  return bytes ? powertool::SavedPowerSettings::decode(*bytes) : powertool::SavedPowerSettings::unreadable(error);
}

}  // namespace somnara::linuxhost
