#include "core/ControllerRole.h"

namespace somnara {

ControllerRole ControllerRole::forBundleIdentifier(const std::string& bundleIdentifier) {
  if (bundleIdentifier == kS_SomnaraDaemonBundleIdentifier) return ControllerRole(kProcessTypeDaemon);
  if (bundleIdentifier == kS_SomnaraApplicationBundleIdentifier) return ControllerRole(kProcessTypeApplication);
  if (bundleIdentifier == kS_SomnaraMenuBarBundleIdentifier) return ControllerRole(kProcessTypeMenuBar);
  return ControllerRole(kProcessTypeOther);
}

}  // namespace somnara
