#include "host/linux/LinuxPowerManager.h"

#include <charconv>

#include "powertool/SleepDropIn.h"

namespace somnara::linuxhost {

namespace {

using powertool::SleepAbility;
using powertool::SleepBlocker;

// logind's answer for one kind of sleep, with the kernel's reason for a no.
SleepAbility fromLogind(const std::optional<std::string>& answer, SleepAbility kernel) {
  if (!answer) return kernel;
  if (*answer == "yes" || *answer == "challenge" || *answer == "no") return SleepAbility::yes();
  return kernel.possible() ? SleepAbility{SleepBlocker::RefusedBySystem} : kernel;
}

}  // namespace

LinuxPowerManager::LinuxPowerManager(MachineRoot root, const LogindClient* logind)
    : root_(std::move(root)), logind_(logind) {}

powertool::SleepCapabilities LinuxPowerManager::sleepCapabilities() const {
  auto file = [this](const char* relative) { return root_.read(std::string("/") + relative, 1 << 20); };
  const powertool::SleepCapabilities kernel = powertool::evaluateKernelSleepFiles(
      {file(powertool::kSysPowerState), file(powertool::kSysPowerDisk), file(powertool::kKernelLockdown),
       file(powertool::kProcSwaps), file(powertool::kProcMeminfo)});
  if (!logind_ || !logind_->reachable()) return kernel;
  return {fromLogind(logind_->canSleep("CanSuspend"), kernel.suspend),
          fromLogind(logind_->canSleep("CanHibernate"), kernel.hibernate),
          fromLogind(logind_->canSleep("CanHybridSleep"), kernel.hybridSleep)};
}

bool LinuxPowerManager::sleepEnabled() const {
  const auto states = root_.read("/sys/power/state", 4096);
  return states && powertool::offersMemOrDiskSleep(*states);
}

host::HibernateModeReading LinuxPowerManager::hibernateMode() const {
  using Absence = host::HibernateModeReading::Absence;
  const auto text = MachineRoot::readValue(root_.path("/run/somnara/hibernatemode"));
  if (!text) return host::HibernateModeReading::none(Absence::NotRecorded);
  const std::string& t = *text;
  int mode = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), mode);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size())
    return host::HibernateModeReading::none(Absence::NotAnInteger);
  if (!root_.isDirectory(std::string("/") + powertool::kSystemdRunDirectory)) return host::HibernateModeReading::of(mode);
  const auto disagreement = powertool::dropInDisagreement(
      mode, root_.read(std::string("/") + powertool::kRuntimeDropIn, 4096),
      root_.exists(std::string("/") + powertool::kLegacyRuntimeDropIn));
  return disagreement ? host::HibernateModeReading::none(Absence::OutOfStep) : host::HibernateModeReading::of(mode);
}

powertool::SavedPowerSettings LinuxPowerManager::savedSettings() const {
  std::string error;
  auto bytes = MachineRoot::readFile(root_.path("/etc/somnara/PowerManagement.plist"), 16 << 20, &error);
  return bytes ? powertool::SavedPowerSettings::decode(*bytes) : powertool::SavedPowerSettings::unreadable(error);
}

}  // namespace somnara::linuxhost
