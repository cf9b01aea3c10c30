#include "host/linux/LinuxDisplays.h"

#include <QDir>

namespace somnara::linuxhost {
namespace {

// "card0-eDP-1": the laptop's own panel is the main display where it is connected.
bool isBuiltInPanel(const QString& connector) {
  for (const char* kind : {"-eDP-", "-LVDS-", "-DSI-"})
    if (connector.contains(QLatin1String(kind))) return true;
  return false;
}

}  // namespace

LinuxDisplays::LinuxDisplays(QDBusConnection sessionBus, MachineRoot root)
    : root_(std::move(root)), screenSaver_(std::move(sessionBus)) {}

bool LinuxDisplays::mainDisplayAsleep() const {
  if (auto asleep = x11_.monitorsAsleep()) return *asleep;
  const QDir drm(QString::fromStdString(root_.path("/sys/class/drm")));
  std::optional<QString> main;
  for (const QString& connector : drm.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    if (MachineRoot::readValue(drm.filePath(connector + "/status").toStdString()) != "connected") continue;
    if (isBuiltInPanel(connector)) {
      main = connector;
      break;
    }
    if (!main) main = connector;
  }
  if (!main) return false;
  const auto dpms = MachineRoot::readValue(drm.filePath(*main + "/dpms").toStdString());
  return dpms && *dpms != "On";
}

bool LinuxDisplays::screenSaverActive() const { return screenSaver_.active().value_or(false); }

std::size_t LinuxDisplays::probeActiveDisplays(std::size_t maxDisplays) {
  return x11_.probeActiveOutputs(maxDisplays);
}

}  // namespace somnara::linuxhost
