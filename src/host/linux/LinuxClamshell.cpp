#include "host/linux/LinuxClamshell.h"

#include <linux/input-event-codes.h>

#include <QDir>

#include <charconv>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "host/linux/CallbackRegistration.h"

namespace somnara::linuxhost {
namespace {

const QString kUPower = QStringLiteral("org.freedesktop.UPower");
const QString kUPowerPath = QStringLiteral("/org/freedesktop/UPower");

// Holds the registrations one observer needs.
class Registrations final : public host::Registration {
 public:
  std::vector<host::RegistrationPtr> parts;
};

}  // namespace

LinuxClamshell::LinuxClamshell(QDBusConnection systemBus, LogindClient& logind, MachineRoot root, host::RunLoop& loop,
                               std::chrono::milliseconds pollInterval)
    : upower_(std::move(systemBus), kUPower), logind_(logind), root_(std::move(root)), loop_(loop),
      pollInterval_(pollInterval) {}

std::optional<bool> LinuxClamshell::clamshellState() const {
  if (upower_.present()) {
    const auto present = upower_.property(kUPowerPath, kUPower, QStringLiteral("LidIsPresent"));
    const auto closed = upower_.property(kUPowerPath, kUPower, QStringLiteral("LidIsClosed"));
    if (present && closed) {
      if (!present->toBool()) return std::nullopt;
      if (closed->userType() == QMetaType::Bool) return closed->toBool();
      return std::nullopt;
    }
  }
  if (logind_.reachable() && hasLidSwitch())
    if (auto closed = logind_.lidClosed()) return closed;
  return procLidState();
}

bool LinuxClamshell::hasLidSwitch() const {
  const QDir input(QString::fromStdString(root_.path("/sys/class/input")));
  for (const QString& device : input.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    // Hexadecimal words, the lowest bits last: "1" is a lid switch alone.
    const auto words = MachineRoot::readValue(input.filePath(device + "/capabilities/sw").toStdString());
    if (!words) continue;
    const std::string_view lowest = std::string_view(*words).substr(words->find_last_of(' ') + 1);
    std::uint64_t bits = 0;
    std::from_chars(lowest.data(), lowest.data() + lowest.size(), bits, 16);
    if (bits & (std::uint64_t{1} << SW_LID)) return true;
  }
  return false;
}

std::optional<std::string> LinuxClamshell::procLidText() const {
  const QDir lids(QString::fromStdString(root_.path("/proc/acpi/button/lid")));
  for (const QString& entry : lids.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    if (auto text = MachineRoot::readValue(lids.filePath(entry + "/state").toStdString())) return text;
  return std::nullopt;
}

std::optional<bool> LinuxClamshell::procLidState() const {
  const auto text = procLidText();
  if (!text) return std::nullopt;
  // "state:      closed"
  const auto colon = text->find(':');
  std::string word = colon == std::string::npos ? *text : text->substr(colon + 1);
  word.erase(0, word.find_first_not_of(" \t"));
  if (word == "closed") return true;
  if (word == "open") return false;
  return std::nullopt;
}

host::RegistrationPtr LinuxClamshell::observeRootDomain(std::function<void()> onMessage) {
  auto shared = std::make_shared<std::function<void()>>(std::move(onMessage));
  auto registrations = std::make_unique<Registrations>();
  if (upower_.present() || logind_.reachable()) {
    auto forward = [shared](const QStringList& names, const QVariantMap& changed, const QStringList& invalidated) {
      for (const QString& name : names)
        if (changed.contains(name) || invalidated.contains(name)) return (*shared)();
    };
    if (auto r = upower_.watchProperties(kUPowerPath, kUPower, [forward](const QVariantMap& c, const QStringList& i) {
          forward({QStringLiteral("LidIsClosed"), QStringLiteral("LidIsPresent")}, c, i);
        }))
      registrations->parts.push_back(std::move(r));
    if (auto r = logind_.watchManagerProperties(
            [forward](const QVariantMap& c, const QStringList& i) { forward({QStringLiteral("LidClosed")}, c, i); }))
      registrations->parts.push_back(std::move(r));
    if (registrations->parts.empty()) return nullptr;
    return registrations;
  }
  if (!procLidText()) return nullptr;
  auto last = std::make_shared<std::optional<bool>>(procLidState());
  host::RunLoop& loop = loop_;
  const auto timer = loop.schedule(pollInterval_, true, [this, shared, last] {
    auto now = procLidState();
    if (now == *last) return;
    *last = now;
    (*shared)();
  });
  registrations->parts.push_back(CallbackRegistration::make([&loop, timer] { loop.cancel(timer); }));
  return registrations;
}

}  // namespace somnara::linuxhost
