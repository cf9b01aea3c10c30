#pragma once

#include <QDBusConnection>

#include "host/StatusArea.h"
#include "host/linux/LinuxTrayHosts.h"

namespace somnara::linuxhost {

/// The session's status area: a status-notifier host where the session bus
/// has org.kde.StatusNotifierWatcher and its IsStatusNotifierHostRegistered
/// is true; else an XEmbed tray where the X display's tray selection has an
/// owner; else none, as LinuxTrayHosts finds them. The watcher is asked with
/// a 500 ms limit and never started by bus activation. Nothing is contacted
/// before the first call.
class SessionStatusArea final : public host::StatusArea {
 public:
  explicit SessionStatusArea(QDBusConnection sessionBus);

  Kind find() override;

 private:
  LinuxTrayHosts hosts_;
};

}  // namespace somnara::linuxhost
