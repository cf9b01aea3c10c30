#pragma once

#include <QDBusConnection>

#include "host/TrayHosts.h"
#include "host/linux/BusPeer.h"
#include "host/linux/XcbDisplay.h"

namespace somnara::linuxhost {

/// The status areas of the session:
///   notifierHostPresent     org.kde.StatusNotifierWatcher holds its name on
///                           the session bus and its IsStatusNotifierHostRegistered
///                           property is true
///   embedTrayPresent        the XEmbed tray selection of the display's
///                           default screen has an owner (XcbDisplay)
///   observeNotifierWatcher  NameOwnerChanged of the watcher's name
/// Nothing is contacted before the first call; a call to the watcher waits
/// at most timeoutMs.
class LinuxTrayHosts final : public host::TrayHosts {
 public:
  explicit LinuxTrayHosts(QDBusConnection sessionBus, int timeoutMs = BusPeer::kDefaultTimeoutMs);

  bool notifierHostPresent() override;
  bool embedTrayPresent() override;
  host::RegistrationPtr observeNotifierWatcher(std::function<void()> onChange) override;

 private:
  BusPeer watcher_;
  XcbDisplay x11_;
};

}  // namespace somnara::linuxhost
