#include "host/linux/SysfsPowerSources.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

#include <memory>

#include "host/linux/CallbackRegistration.h"
#include "host/linux/PowerSupplyAttributes.h"

namespace somnara::linuxhost {
namespace {

constexpr const char* kPowerSupplyDir = "/sys/class/power_supply";

// Attributes whose change alters a reading; watched where inotify works.
const char* const kWatchedAttributes[] = {"capacity",   "status",      "online",      "time_to_empty_now",
                                          "energy_now", "power_now",   "charge_now",  "current_now"};

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

host::PowerReading SysfsPowerSources::read(const MachineRoot& root) {
  const std::string base = root.path(kPowerSupplyDir);
  if (!QDir(QString::fromStdString(base)).exists()) return powerReadingOf(std::nullopt);
  std::vector<PowerSupplyAttributes> entries;
  for (const std::string& dir : supplies(base)) {
    PowerSupplyAttributes& entry = entries.emplace_back();
    for (const char* name : kPowerSupplyAttributeNames)
      if (auto value = MachineRoot::readValue(dir + "/" + name)) entry.emplace(name, std::move(*value));
  }
  return powerReadingOf(entries);
}

host::PowerReading SysfsPowerSources::read() const { return read(root_); }

host::RegistrationPtr SysfsPowerSources::observeChanges(std::function<void()> onChange) {
  struct Observation : std::enable_shared_from_this<Observation> {
    MachineRoot root;
    std::function<void()> onChange;
    host::PowerReading last;
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
      host::PowerReading now = read(root);
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
