#pragma once

#include <QDBusConnection>

#include <string>

#include "host/DesktopNotices.h"
#include "host/linux/BusPeer.h"

namespace somnara::linuxhost {

/// Notices through the desktop's notification server
/// (org.freedesktop.Notifications on the session bus), sent without waiting
/// for the answer; a server that is not running is never started for one.
class FreedesktopNotices final : public host::DesktopNotices {
 public:
  /// appName: the program's name as the notices show it.
  FreedesktopNotices(QDBusConnection sessionBus, std::string appName);

  bool post(const std::string& summary, const std::string& body) override;

 private:
  BusPeer server_;
  std::string appName_;
};

}  // namespace somnara::linuxhost
