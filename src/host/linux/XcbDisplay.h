#pragma once

#include <cstddef>
#include <optional>

struct xcb_connection_t;

namespace somnara::linuxhost {

/// The session's X11 display ($DISPLAY), connected on first use and kept;
/// a connection that broke is given up and made afresh at the next call.
/// Without a display every query answers "cannot tell".
class XcbDisplay {
 public:
  XcbDisplay();
  ~XcbDisplay();
  XcbDisplay(const XcbDisplay&) = delete;
  XcbDisplay& operator=(const XcbDisplay&) = delete;

  /// DPMS: true when display power management is enabled and the monitors
  /// are in standby, suspend or off; nullopt without a display or the
  /// DPMS extension.
  std::optional<bool> monitorsAsleep();

  /// RandR's full screen-resources query on every screen, which makes the X
  /// server probe each output's connection afresh; returns how many outputs
  /// are connected and driven by a CRTC, at most maxOutputs. 0 without a
  /// display or RandR.
  std::size_t probeActiveOutputs(std::size_t maxOutputs);

  /// Whether a program (an XEmbed system tray) owns the selection
  /// "_NET_SYSTEM_TRAY_S<n>" of the display's default screen n; nullopt
  /// without a display.
  std::optional<bool> systemTrayPresent();

 private:
  xcb_connection_t* connection();

  xcb_connection_t* connection_ = nullptr;
  int defaultScreen_ = 0;
};

}  // namespace somnara::linuxhost
