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
///   observeMainDisplayAsleep
///                        GNOME's PowerSaveMode (org.gnome.Mutter.DisplayConfig
///                        on the session bus: 0 on, 1 standby, 2 suspend, 3 off,
///                        -1 unknown) and its PropertiesChanged, where Mutter
///                        runs and knows the mode; null elsewhere
///   screenSaverActive    the session screen saver's GetActive
///   observeScreenSaver   its ActiveChanged signal
///   probeActiveDisplays  RandR's full screen-resources query (XcbDisplay);
///                        0 without an X11 session, where no probe exists
/// Nothing is contacted before the first call.
///
/// Change notices of the display's power state, as far as they exist:
///   - GNOME (Mutter, X11 and Wayland): PowerSaveMode above, watched.
///   - X11 DPMS: version 1.2 of the extension has DPMSSelectInput and a
///     DPMSInfoNotify event, but libxcb-dpms 1.15 (Debian 12) offers neither,
///     and the X server of the tests (Xvfb) has no DPMS at all. The
///     MIT-SCREEN-SAVER extension's ScreenSaverNotify tells of the server's
///     blanking only: DPMS blanks the screen when it is not blanked already,
///     so a standby after the screen saver's own blank goes untold. RandR and
///     Present carry no power state. So X11 keeps its DPMSInfo read: one
///     round trip on the local X connection, no D-Bus.
///   - DRM `dpms` in sysfs: the kernel sends neither a uevent nor a sysfs
///     notification when it changes, so it stays a read of one small file.
///   - logind has no display state; KDE switches displays off through KWin's
///     own Wayland protocol (or X11 DPMS), with no session-bus signal.
/// Where nothing tells of changes, observeMainDisplayAsleep() is null and the
/// caller reads mainDisplayAsleep() when it needs the state.
class LinuxDisplays final : public host::Displays {
 public:
  LinuxDisplays(QDBusConnection sessionBus, MachineRoot root);

  bool mainDisplayAsleep() const override;
  bool screenSaverActive() const override;
  host::RegistrationPtr observeMainDisplayAsleep(std::function<void(bool asleep)> onChange) override;
  host::RegistrationPtr observeScreenSaver(std::function<void(bool active)> onChange) override;
  std::size_t probeActiveDisplays(std::size_t maxDisplays) override;

 private:
  QDBusConnection sessionBus_;
  MachineRoot root_;
  SessionScreenSaver screenSaver_;
  mutable XcbDisplay x11_;
};

}  // namespace somnara::linuxhost
