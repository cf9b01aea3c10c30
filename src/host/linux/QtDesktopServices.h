#pragma once

#include "host/Desktop.h"

namespace somnara::linuxhost {

/// Documents handed to the desktop's default application through
/// QDesktopServices (xdg-open and the desktop portal underneath). Needs a
/// QGuiApplication.
class QtDesktopServices final : public host::Desktop {
 public:
  bool openWithDefaultApplication(const std::string& path) override;
};

}  // namespace somnara::linuxhost
