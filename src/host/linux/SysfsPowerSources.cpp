#include "host/linux/SysfsPowerSources.h"

#include <linux/magic.h>
#include <sys/statfs.h>

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

#include <memory>

#include "host/linux/CallbackRegistration.h"
#include "host/linux/PowerSupplyAttributes.h"
#include "host/linux/UeventMonitor.h"

namespace somnara::linuxhost {
namespace {

constexpr const char* kPowerSupplyDir = "/sys/class/power_supply";

// Whether the machine root's sys directory is the kernel's sysfs, whose
// attributes change without inotify events.
bool onSysfs(const MachineRoot& root) {
  struct statfs fs {};
  return ::statfs(root.path("/sys").c_str(), &fs) == 0 && fs.f_type == SYSFS_MAGIC;
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

host::PowerReading SysfsPowerSources::read(const MachineRoot& root) {
  const std::string base = root.path(kPowerSupplyDir);
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
    std::unique_ptr<UeventMonitor> uevents;          // the real sysfs
    std::unique_ptr<QFileSystemWatcher> watcher;     // a tree of plain files
    QTimer poll;                                     // the real sysfs without uevents
    QTimer settle;                                   // coalesces bursts of change notices

    void rewatch() {
      if (!watcher) return;
      const QStringList old = watcher->files() + watcher->directories();
      if (!old.isEmpty()) watcher->removePaths(old);
      const std::string base = root.path(kPowerSupplyDir);
      QStringList paths;
      if (QDir(QString::fromStdString(base)).exists()) paths << QString::fromStdString(base);
      for (const std::string& dir : supplies(base)) {
        paths << QString::fromStdString(dir);  // attribute files added later
        for (const char* name : kPowerSupplyAttributeNames) {
          const QString file = QString::fromStdString(dir + "/" + name);
          if (QFileInfo::exists(file)) paths << file;
        }
      }
      if (!paths.isEmpty()) watcher->addPaths(paths);
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
  Observation* o = observation.get();
  o->root = root_;
  o->onChange = std::move(onChange);
  o->last = read(root_);
  o->settle.setSingleShot(true);
  o->settle.setInterval(20);
  QObject::connect(&o->settle, &QTimer::timeout, &o->settle, [o] {
    o->rewatch();
    o->check();
  });
  if (onSysfs(root_)) {
    // Attributes of sysfs raise no inotify events; the kernel announces
    // changes of its power supplies instead.
    o->uevents = UeventMonitor::start("power_supply", [o] { o->settle.start(); });
    if (!o->uevents) {
      o->poll.setInterval(static_cast<int>(pollInterval_.count()));
      QObject::connect(&o->poll, &QTimer::timeout, &o->poll, [o] { o->check(); });
      o->poll.start();
    }
  } else {
    o->watcher = std::make_unique<QFileSystemWatcher>();
    auto touched = [o](const QString&) { o->settle.start(); };
    QObject::connect(o->watcher.get(), &QFileSystemWatcher::fileChanged, &o->settle, touched);
    QObject::connect(o->watcher.get(), &QFileSystemWatcher::directoryChanged, &o->settle, touched);
    o->rewatch();
  }
  return CallbackRegistration::make([observation]() mutable { observation.reset(); });
}

}  // namespace somnara::linuxhost
