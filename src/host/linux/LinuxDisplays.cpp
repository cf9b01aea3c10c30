#include "host/linux/LinuxDisplays.h"

#include <QDir>

namespace somnara::linuxhost {

LinuxDisplays::LinuxDisplays(QDBusConnection sessionBus, MachineRoot root)
    : root_(std::move(root)), screenSaver_(std::move(sessionBus)) {}

bool LinuxDisplays::mainDisplayAsleep() const {
  if (auto asleep = x11_.monitorsAsleep()) return *asleep;
  const QDir drm(QString::fromStdString(root_.path("/sys/class/drm")));
  for (const QString& connector : drm.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    const auto status = MachineRoot::readValue(drm.filePath(connector + "/status").toStdString());
    if (status != "connected") continue;
    const auto dpms = MachineRoot::readValue(drm.filePath(connector + "/dpms").toStdString());
    return dpms && *dpms != "On";
  }
  return false;
}

bool LinuxDisplays::screenSaverActive() const { return screenSaver_.active().value_or(false); }

std::size_t LinuxDisplays::probeActiveDisplays(std::size_t maxDisplays) {
  return x11_.probeActiveOutputs(maxDisplays);
}

}  // namespace somnara::linuxhost
