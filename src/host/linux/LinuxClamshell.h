#pragma once

#include <QDBusConnection>

#include <chrono>

#include "host/Clamshell.h"
#include "host/RunLoop.h"
#include "host/linux/BusPeer.h"
#include "host/linux/LogindClient.h"
#include "host/linux/MachineRoot.h"

namespace somnara::linuxhost {

/// The lid, from the first source that answers:
///   1. UPower (where it runs): LidIsClosed, or no lid when LidIsPresent is false
///   2. logind: the manager's LidClosed, only where an input device in
///      <root>/sys/class/input reports the lid switch (bit SW_LID of its
///      capabilities/sw): logind reads false without one
///   3. <root>/proc/acpi/button/lid/*/state: "closed" or "open" (first entry
///      in name order); no reading when there is no such file or it says
///      something else
/// Messages: UPower and logind both emit PropertiesChanged when the lid moves
/// (UPower for LidIsClosed and LidIsPresent, logind for LidClosed), and each
/// is forwarded. When neither service is on the system bus at registration,
/// the proc file is compared every pollInterval instead, only while someone
/// observes. Nothing is contacted before the first call.
class LinuxClamshell final : public host::Clamshell {
 public:
  LinuxClamshell(QDBusConnection systemBus, LogindClient& logind, MachineRoot root, host::RunLoop& loop,
                 std::chrono::milliseconds pollInterval = std::chrono::seconds(5));

  std::optional<bool> clamshellState() const override;
  host::RegistrationPtr observeRootDomain(std::function<void()> onMessage) override;

 private:
  /// The text of the first lid's state file; nullopt when there is none.
  std::optional<std::string> procLidText() const;
  std::optional<bool> procLidState() const;
  bool hasLidSwitch() const;

  BusPeer upower_;
  LogindClient& logind_;
  MachineRoot root_;
  host::RunLoop& loop_;
  std::chrono::milliseconds pollInterval_;
};

}  // namespace somnara::linuxhost
