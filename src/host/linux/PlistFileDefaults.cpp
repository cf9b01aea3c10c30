#include "host/linux/PlistFileDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fileio/FileIO.h"
#include "host/linux/CallbackRegistration.h"
#include "host/linux/MachineRoot.h"
#include "host/linux/SettingsFileFormat.h"
#include "host/linux/XdgDirectory.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

// Which version of a file was last read or written.
struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long long mtimeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, st.st_size,
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

}  // namespace

struct PlistFileDefaults::State : std::enable_shared_from_this<PlistFileDefaults::State> {
  struct Domain {
    std::string name;
    std::string path;
    Dictionary values;
    FileIdentity identity;
  };
  struct Observer {
    std::string key;
    std::function<void()> onChange;
    std::optional<Value> lastSeen;
  };

  State(host::Logger& l, std::string dir) : logger(l), directory(std::move(dir)) {}

  host::Logger& logger;
  std::string directory;
  Domain own;
  std::vector<Domain> suites;
  Dictionary registered;
  // Changes of the own domain not yet written: a value, or nullopt for a removal.
  std::map<std::string, std::optional<Value>> pending;
  std::map<std::uint64_t, Observer> observers;
  std::uint64_t nextObserver = 1;

  QObject context;  // owns the queued calls; they die with the state
  QFileSystemWatcher watcher;
  QTimer poll;
  bool flushQueued = false, checkQueued = false, reloadQueued = false;

  std::string pathFor(const std::string& domain) const { return directory + "/" + domain + ".plist"; }

  std::optional<Value> lookup(const std::string& key) const {
    if (auto it = own.values.find(key); it != own.values.end()) return it->second;
    for (const Domain& d : suites)
      if (auto it = d.values.find(key); it != d.values.end()) return it->second;
    if (auto it = registered.find(key); it != registered.end()) return it->second;
    return std::nullopt;
  }

  // Reads a domain's file; a file that exists but cannot be used is moved aside.
  void load(Domain& d) {
    d.identity = identityOf(d.path);
    d.values.clear();
    if (!d.identity.exists) return;
    std::string error;
    auto bytes = MachineRoot::readFile(d.path, 64 << 20, &error);
    std::optional<Dictionary> parsed;
    if (bytes) parsed = parseSettingsFile(*bytes, &error);
    if (parsed) {
      d.values = std::move(*parsed);
      return;
    }
    const std::string aside = d.path + ".corrupt-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    if (::rename(d.path.c_str(), aside.c_str()) == 0)
      logger.log("Settings file " + d.path + " could not be read (" + error + "); moved aside to " + aside +
                 ", using defaults");
    else
      logger.log("Settings file " + d.path + " could not be read (" + error + ") nor moved aside (" +
                 std::strerror(errno) + "); using defaults");
    d.identity = identityOf(d.path);
  }

  void overlayPending() {
    for (const auto& [key, v] : pending) {
      if (v) own.values[key] = *v;
      else own.values.erase(key);
    }
  }

  bool flush() {
    flushQueued = false;
    if (pending.empty()) return true;
    if (identityOf(own.path) != own.identity) {
      // Someone else wrote the file since it was read: keep their keys.
      load(own);
      overlayPending();
      queueCheck();
    }
    if (auto err = fileio::writeFileAtomically(own.path, plist::toXml(Value(own.values)), 0600)) {
      logger.log("Cannot write settings file " + own.path + ": " + err->message());
      return false;
    }
    own.identity = identityOf(own.path);
    pending.clear();
    rewatch();
    return true;
  }

  void queue(bool& flag, void (State::*member)()) {
    if (flag) return;
    flag = true;
    std::weak_ptr<State> weak = weak_from_this();
    QTimer::singleShot(0, &context, [weak, member] {
      if (auto self = weak.lock()) ((*self).*member)();
    });
  }
  void queueFlush() { queue(flushQueued, &State::flushQueuedNow); }
  void queueCheck() { queue(checkQueued, &State::notifyObservers); }
  void queueReload() { queue(reloadQueued, &State::reload); }
  void flushQueuedNow() { flush(); }

  void reload() {
    reloadQueued = false;
    rewatch();
    bool changed = false;
    if (identityOf(own.path) != own.identity) {
      load(own);
      overlayPending();
      changed = true;
    }
    for (Domain& d : suites) {
      if (identityOf(d.path) == d.identity) continue;
      load(d);
      changed = true;
    }
    if (changed) queueCheck();
  }

  void notifyObservers() {
    checkQueued = false;
    auto keep = shared_from_this();  // an observer may destroy the store
    std::vector<std::uint64_t> ids;
    for (const auto& [id, o] : observers) ids.push_back(id);
    for (std::uint64_t id : ids) {
      auto it = observers.find(id);
      if (it == observers.end()) continue;
      auto now = lookup(it->second.key);
      if (now == it->second.lastSeen) continue;
      it->second.lastSeen = now;
      auto fn = it->second.onChange;
      if (fn) fn();
    }
  }

  // Watches the directory (renames replace files) and every domain file present.
  void rewatch() {
    const QString dir = QString::fromStdString(directory);
    if (!watcher.directories().contains(dir) && QFileInfo(dir).isDir()) watcher.addPath(dir);
    QStringList files;
    auto add = [&](const Domain& d) {
      const QString f = QString::fromStdString(d.path);
      if (!watcher.files().contains(f) && QFileInfo::exists(f)) files << f;
    };
    add(own);
    for (const Domain& d : suites) add(d);
    if (!files.isEmpty()) watcher.addPaths(files);
    // Without a directory watch, look for foreign changes twice a second.
    if (watcher.directories().isEmpty()) {
      if (!poll.isActive()) poll.start(500);
    } else {
      poll.stop();
    }
  }
};

PlistFileDefaults::PlistFileDefaults(std::string ownDomain, std::string directory, host::Logger& logger)
    : state_(std::make_shared<State>(logger, std::move(directory))) {
  State& s = *state_;
  QDir().mkpath(QString::fromStdString(s.directory));
  s.own.name = std::move(ownDomain);
  s.own.path = s.pathFor(s.own.name);
  s.load(s.own);
  State* raw = state_.get();
  QObject::connect(&s.watcher, &QFileSystemWatcher::directoryChanged, &s.context, [raw] { raw->queueReload(); });
  QObject::connect(&s.watcher, &QFileSystemWatcher::fileChanged, &s.context, [raw] { raw->queueReload(); });
  QObject::connect(&s.poll, &QTimer::timeout, &s.context, [raw] { raw->reload(); });
  s.rewatch();
}

PlistFileDefaults::~PlistFileDefaults() {
  if (!state_->pending.empty()) state_->flush();
}

std::string PlistFileDefaults::defaultDirectory() {
  return xdgDirectory("XDG_CONFIG_HOME", "/.config") + "/somnara";
}

std::string PlistFileDefaults::pathForDomain(const std::string& domain) const { return state_->pathFor(domain); }

std::optional<Value> PlistFileDefaults::value(const std::string& key) const { return state_->lookup(key); }

void PlistFileDefaults::setValue(const std::string& key, const Value& value) {
  state_->own.values[key] = value;
  state_->pending[key] = value;
  state_->queueFlush();
  state_->queueCheck();
}

void PlistFileDefaults::removeValue(const std::string& key) {
  state_->own.values.erase(key);
  state_->pending[key] = std::nullopt;
  state_->queueFlush();
  state_->queueCheck();
}

void PlistFileDefaults::addSuite(const std::string& domain) {
  State& s = *state_;
  if (domain == s.own.name) return;
  for (const auto& d : s.suites)
    if (d.name == domain) return;
  State::Domain d;
  d.name = domain;
  d.path = s.pathFor(domain);
  s.load(d);
  s.suites.push_back(std::move(d));
  s.rewatch();
  s.queueCheck();
}

void PlistFileDefaults::registerDefaults(const Dictionary& d) {
  for (const auto& [key, v] : d) state_->registered[key] = v;
  state_->queueCheck();
}

bool PlistFileDefaults::synchronize() { return state_->flush(); }

host::RegistrationPtr PlistFileDefaults::observe(const std::string& key, std::function<void()> onChange) {
  const std::uint64_t id = state_->nextObserver++;
  state_->observers.emplace(id, State::Observer{key, std::move(onChange), state_->lookup(key)});
  std::weak_ptr<State> weak = state_;
  return CallbackRegistration::make([weak, id] {
    if (auto s = weak.lock()) s->observers.erase(id);
  });
}

}  // namespace somnara::linuxhost
