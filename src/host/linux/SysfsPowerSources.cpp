#include "host/linux/SysfsPowerSources.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "host/linux/CallbackRegistration.h"

namespace somnara::linuxhost {
namespace {

constexpr const char* kPowerSupplyDir = "/sys/class/power_supply";

// Attributes whose change alters a reading; watched where inotify works.
const char* const kWatchedAttributes[] = {"capacity",   "status",      "online",      "time_to_empty_now",
                                          "energy_now", "power_now",   "charge_now",  "current_now"};

std::optional<std::string> attribute(const std::string& dir, const char* name) {
  return MachineRoot::readValue(dir + "/" + name);
}

std::optional<long long> number(const std::string& dir, const char* name) {
  const auto text = attribute(dir, name);
  if (!text || text->empty()) return std::nullopt;
  long long n = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), n);
  if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return n;
}

// Minutes until empty, or -1.
long long timeToEmpty(const std::string& dir) {
  if (attribute(dir, "status").value_or("") != "Discharging") return -1;
  if (auto seconds = number(dir, "time_to_empty_now"); seconds && *seconds > 0) return *seconds / 60;
  // Some drivers report the drain as a negative rate.
  auto hoursFrom = [&](const char* amount, const char* rate) -> std::optional<long long> {
    const auto a = number(dir, amount);
    const auto r = number(dir, rate);
    if (!a || !r || *a < 0 || *r == 0) return std::nullopt;
    return static_cast<long long>(std::floor(static_cast<double>(*a) / std::llabs(*r) * 60.0));
  };
  if (auto m = hoursFrom("energy_now", "power_now")) return *m;
  if (auto m = hoursFrom("charge_now", "current_now")) return *m;
  return -1;
}

std::vector<std::string> supplies(const std::string& base) {
  std::vector<std::string> out;
  const QDir dir(QString::fromStdString(base));
  for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    out.push_back(base + "/" + name.toStdString());
  return out;
}

}  // namespace

SysfsPowerSources::SysfsPowerSources(MachineRoot root, std::chrono::milliseconds pollInterval)
    : root_(std::move(root)), pollInterval_(pollInterval) {}

SysfsPowerSources::Reading SysfsPowerSources::read(const MachineRoot& root) {
  Reading reading;
  const std::string base = root.path(kPowerSupplyDir);
  if (!QDir(QString::fromStdString(base)).exists()) {
    reading.onExternalPower = true;
    return reading;
  }
  Snapshot snapshot;
  bool anyLineSupply = false, lineOnline = false, anyBatteryDraining = false;
  for (const std::string& dir : supplies(base)) {
    const std::string type = attribute(dir, "type").value_or("");
    if (type == "Mains" || type == "USB") {
      anyLineSupply = true;
      if (number(dir, "online").value_or(0) == 1) lineOnline = true;
      continue;
    }
    // Batteries of peripherals (mice, keyboards) do not power the machine.
    if (type != "Battery" || attribute(dir, "scope").value_or("") == "Device") continue;
    if (attribute(dir, "status").value_or("") == "Discharging") anyBatteryDraining = true;
    const auto capacity = number(dir, "capacity");
    if (!capacity) {
      snapshot.push_back(std::nullopt);
      continue;
    }
    Dictionary description;
    description["Current Capacity"] = Value(std::clamp<long long>(*capacity, 0, 100));
    description["Time to Empty"] = Value(timeToEmpty(dir));
    snapshot.push_back(std::move(description));
  }
  reading.snapshot = std::move(snapshot);
  reading.onExternalPower = anyLineSupply ? lineOnline : !anyBatteryDraining;
  return reading;
}

std::optional<host::PowerSources::Snapshot> SysfsPowerSources::snapshot() const { return read(root_).snapshot; }

bool SysfsPowerSources::onExternalPower() const { return read(root_).onExternalPower; }

host::RegistrationPtr SysfsPowerSources::observeChanges(std::function<void()> onChange) {
  struct Observation : std::enable_shared_from_this<Observation> {
    MachineRoot root;
    std::function<void()> onChange;
    Reading last;
    QFileSystemWatcher watcher;
    QTimer poll;
    QTimer settle;  // coalesces bursts of change notices

    void rewatch() {
      const QStringList old = watcher.files() + watcher.directories();
      if (!old.isEmpty()) watcher.removePaths(old);
      const std::string base = root.path(kPowerSupplyDir);
      QStringList paths;
      if (QDir(QString::fromStdString(base)).exists()) paths << QString::fromStdString(base);
      for (const std::string& dir : supplies(base)) {
        for (const char* name : kWatchedAttributes) {
          const QString file = QString::fromStdString(dir + "/" + name);
          if (QFileInfo::exists(file)) paths << file;
        }
      }
      if (!paths.isEmpty()) watcher.addPaths(paths);
    }
    void check() {
      Reading now = read(root);
      if (now == last) return;
      last = std::move(now);
      // The observer may drop its registration from inside the call.
      auto keep = shared_from_this();
      auto fn = onChange;
      fn();
    }
  };
  auto observation = std::make_shared<Observation>();
  observation->root = root_;
  observation->onChange = std::move(onChange);
  observation->last = read(root_);
  observation->rewatch();
  Observation* o = observation.get();
  o->settle.setSingleShot(true);
  o->settle.setInterval(20);
  QObject::connect(&o->settle, &QTimer::timeout, &o->settle, [o] {
    o->rewatch();
    o->check();
  });
  auto touched = [o](const QString&) { o->settle.start(); };
  QObject::connect(&o->watcher, &QFileSystemWatcher::fileChanged, &o->settle, touched);
  QObject::connect(&o->watcher, &QFileSystemWatcher::directoryChanged, &o->settle, touched);
  o->poll.setInterval(static_cast<int>(pollInterval_.count()));
  QObject::connect(&o->poll, &QTimer::timeout, &o->poll, [o] { o->check(); });
  o->poll.start();
  return CallbackRegistration::make([observation]() mutable { observation.reset(); });
}

}  // namespace somnara::linuxhost
