#pragma once

#include <QDBusConnection>

#include "host/Displays.h"
#include "host/linux/MachineRoot.h"
#include "host/linux/SessionScreenSaver.h"
#include "host/linux/XcbDisplay.h"

namespace somnara::linuxhost {

/// The displays of the session:
///   mainDisplayAsleep    X11 DPMS where the session is an X11 one with an X
///                        display with that extension (see XcbDisplay); else,
///                        as in a Wayland session, the `dpms` attribute ("On" is
///                        awake) of the connected built-in panel (eDP, LVDS,
///                        DSI) in <root>/sys/class/drm, or of the first
///                        connected connector in name order without one
///   screenSaverActive    the session screen saver's GetActive
///   probeActiveDisplays  RandR's full screen-resources query (XcbDisplay);
///                        0 without an X11 session, where no probe exists
/// Nothing is contacted before the first call.
class LinuxDisplays final : public host::Displays {
 public:
  LinuxDisplays(QDBusConnection sessionBus, MachineRoot root);

  bool mainDisplayAsleep() const override;
  bool screenSaverActive() const override;
  std::size_t probeActiveDisplays(std::size_t maxDisplays) override;

 private:
  MachineRoot root_;
  SessionScreenSaver screenSaver_;
  mutable XcbDisplay x11_;
};

}  // namespace somnara::linuxhost
