#pragma once

#include <chrono>

#include "host/PowerSources.h"
#include "host/linux/MachineRoot.h"

namespace somnara::linuxhost {

/// Power sources from sys/class/power_supply under the machine root, the
/// entries taken in name order (see powerReadingOf for what they mean).
class SysfsPowerSources final : public host::PowerSources {
 public:
  /// pollInterval: how often readings are compared while observed on the
  /// kernel's sysfs when its change events (uevents) cannot be received.
  explicit SysfsPowerSources(MachineRoot root, std::chrono::milliseconds pollInterval = std::chrono::seconds(5));

  host::PowerReading read() const override;

  /// Reports on the run loop each time the readings differ from the last
  /// reported ones. On the kernel's sysfs the kernel's power_supply uevents
  /// say when to look (a poll only where they cannot be received); under any
  /// other machine root (a tree of plain files) inotify on the attribute
  /// files and directories does. Apart from that fallback poll, no timer
  /// runs while nothing changes. Always a registration.
  host::RegistrationPtr observeChanges(std::function<void()> onChange) override;

  /// The reading of the supplies under root, taken now.
  static host::PowerReading read(const MachineRoot& root);

 private:
  MachineRoot root_;
  std::chrono::milliseconds pollInterval_;
};

}  // namespace somnara::linuxhost
