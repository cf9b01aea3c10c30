#include "host/linux/LinuxDisplays.h"

#include <QDir>

#include "host/linux/BusPeer.h"

namespace somnara::linuxhost {
namespace {

// "card0-eDP-1": the laptop's own panel is the main display where it is connected.
bool isBuiltInPanel(const QString& connector) {
  for (const char* kind : {"-eDP-", "-LVDS-", "-DSI-"})
    if (connector.contains(QLatin1String(kind))) return true;
  return false;
}

// Mutter's PowerSaveMode: 0 on, 1 standby, 2 suspend, 3 off; nullopt for
// -1 (unknown) or anything but a number.
std::optional<bool> asleepFromPowerSaveMode(const QVariant& mode) {
  bool isInt = false;
  const int value = mode.toInt(&isInt);
  if (!isInt || value < 0) return std::nullopt;
  return value != 0;
}

const QString kMutter = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString kMutterPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");
const QString kPowerSaveMode = QStringLiteral("PowerSaveMode");

}  // namespace

LinuxDisplays::LinuxDisplays(QDBusConnection sessionBus, MachineRoot root)
    : sessionBus_(sessionBus), root_(std::move(root)), screenSaver_(std::move(sessionBus)) {}

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

host::RegistrationPtr LinuxDisplays::observeMainDisplayAsleep(std::function<void(bool)> onChange) {
  BusPeer mutter(sessionBus_, kMutter);
  // Where Mutter cannot tell the mode now, its notices would not tell it either.
  const auto mode = mutter.property(kMutterPath, kMutter, kPowerSaveMode);
  if (!mode || !asleepFromPowerSaveMode(*mode)) return nullptr;
  return mutter.watchProperties(
      kMutterPath, kMutter, [this, onChange = std::move(onChange)](const QVariantMap& changed, const QStringList&) {
        const auto it = changed.find(kPowerSaveMode);
        if (it == changed.end()) return;
        // Become unknown: the display itself is asked.
        const auto asleep = asleepFromPowerSaveMode(*it);
        onChange(asleep ? *asleep : mainDisplayAsleep());
      });
}

host::RegistrationPtr LinuxDisplays::observeScreenSaver(std::function<void(bool)> onChange) {
  return screenSaver_.watchActiveChanged(std::move(onChange));
}

std::size_t LinuxDisplays::probeActiveDisplays(std::size_t maxDisplays) {
  return x11_.probeActiveOutputs(maxDisplays);
}

}  // namespace somnara::linuxhost
