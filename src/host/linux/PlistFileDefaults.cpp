#include "host/linux/PlistFileDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <ctime>

#include "fileio/FileIO.h"
#include "host/linux/CallbackRegistration.h"
#include "host/linux/InotifyDirectoryWatch.h"
#include "host/linux/MachineRoot.h"
#include "host/linux/SettingsFileFormat.h"
#include "host/linux/XdgDirectory.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Change = InotifyDirectoryWatch::Change;

// A file renamed over the name is whole and is read at once. A file whose
// writer is done otherwise (closed it, removed it) is read once the
// directory has been quiet this long: long enough to take an editor's save
// (write, close, change of mode) as one change, short enough that a change
// reaches observers at once. A writer that closes a file it has not
// finished leaves it unreadable, which the retries below wait out.
constexpr auto kSettle = 20ms;
// A file written to but not closed is read once its writer has been quiet this long.
constexpr auto kWriterQuiet = 1000ms;
// An unreadable file is read again after this pause, and moved aside at the
// first read after it has stayed the same and unreadable this long: at the
// third read, about 2 s after the first. A writer that pauses mid-file for
// less is waited for.
constexpr auto kRetryPause = 1000ms;
constexpr auto kGiveUpAfter = 1500ms;
// Without a directory watch, foreign changes are looked for this often.
constexpr auto kPoll = 500ms;

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
    Dictionary values;      // as last read; kept while the file is unreadable
    FileIdentity identity;  // the version the values came from
    // The unreadable version of the file last seen, since when, and why.
    std::optional<FileIdentity> unreadable;
    Clock::time_point unreadableSince;
    std::string error;
  };
  enum class Read { Same, Changed, Unreadable };
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

  QObject context;   // owns the queued calls; they die with the state
  QTimer readTimer;  // the next read of the files, after a settle or a retry pause
  QTimer poll;
  InotifyDirectoryWatch watch{[this](Change c) {
    readTimer.start(c == Change::Writing ? kWriterQuiet : c == Change::Replaced ? 0ms : kSettle);
  }};
  bool flushQueued = false, checkQueued = false;

  std::string pathFor(const std::string& domain) const { return directory + "/" + domain + ".plist"; }

  std::optional<Value> lookup(const std::string& key) const {
    if (auto it = own.values.find(key); it != own.values.end()) return it->second;
    for (const Domain& d : suites)
      if (auto it = d.values.find(key); it != d.values.end()) return it->second;
    if (auto it = registered.find(key); it != registered.end()) return it->second;
    return std::nullopt;
  }

  // Reads a domain's file unless it is the version last read. A missing file
  // holds no values; an unreadable one leaves the values as they were.
  Read read(Domain& d) {
    const FileIdentity now = identityOf(d.path);
    if (now == d.identity) return Read::Same;
    std::string error;
    std::optional<Dictionary> parsed;
    if (!now.exists)
      parsed.emplace();
    else if (auto bytes = MachineRoot::readFile(d.path, 64 << 20, &error))
      parsed = parseSettingsFile(*bytes, &error);
    if (parsed) {
      d.values = std::move(*parsed);
      d.identity = now;
      d.unreadable.reset();
      return Read::Changed;
    }
    if (d.unreadable != now) {
      d.unreadable = now;
      d.unreadableSince = Clock::now();
    }
    d.error = error;
    return Read::Unreadable;
  }

  // Moves the unreadable file of a domain aside, unless it changed since it
  // was read; the domain counts as empty then.
  bool moveAside(Domain& d) {
    if (identityOf(d.path) != d.unreadable) return false;
    std::string aside;
    if (auto failed = fileio::moveAside(d.path, std::time(nullptr), &aside)) {
      logger.log("Settings file " + d.path + " could not be read (" + d.error + ") nor moved aside (" +
                 failed->message() + "); using defaults");
      d.identity = *d.unreadable;  // not read again until it changes
    } else {
      logger.log("Settings file " + d.path + " could not be read (" + d.error + "); moved aside to " + aside +
                 ", using defaults");
      d.identity = {};  // a file written meanwhile is read at the next look
    }
    d.values.clear();
    d.unreadable.reset();
    return true;
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
    // Someone else wrote the file since it was read: keep their keys, and
    // the bytes of a file that cannot be read.
    const Read r = read(own);
    if (r == Read::Unreadable) moveAside(own);
    if (r != Read::Same) {
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
  void queueFlush() { queue(flushQueued, &State::flushWhenSettled); }
  void queueCheck() { queue(checkQueued, &State::notifyObservers); }

  // A write waits while the files are in flux, so that it keeps the keys of
  // a writer at work; reload() queues it again.
  void flushWhenSettled() {
    if (readTimer.isActive()) flushQueued = false;
    else flush();
  }

  // Reads the files that changed. One still unreadable is read again after a
  // pause, and moved aside once it has stayed unreadable long enough.
  void reload() {
    bool changed = false, unreadable = false;
    auto visit = [&](Domain& d) {
      switch (read(d)) {
        case Read::Same:
          return false;
        case Read::Changed:
          return true;
        case Read::Unreadable:
          if (Clock::now() - d.unreadableSince >= kGiveUpAfter && moveAside(d)) return true;
          unreadable = true;
          return false;
      }
      return false;
    };
    if (visit(own)) {
      overlayPending();
      changed = true;
    }
    for (Domain& d : suites) changed |= visit(d);
    rewatch();
    if (unreadable && !readTimer.isActive()) readTimer.start(kRetryPause);
    if (changed) queueCheck();
    if (!pending.empty()) queueFlush();
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

  // Watches the directory and every domain file present; polls without a directory watch.
  void rewatch() {
    std::vector<std::string> names{own.name + ".plist"};
    for (const Domain& d : suites) names.push_back(d.name + ".plist");
    if (watch.watch(directory, names)) poll.stop();
    else if (!poll.isActive()) poll.start(kPoll);
  }
};

PlistFileDefaults::PlistFileDefaults(std::string ownDomain, std::string directory, host::Logger& logger)
    : state_(std::make_shared<State>(logger, std::move(directory))) {
  State& s = *state_;
  QDir().mkpath(QString::fromStdString(s.directory));
  s.own.name = std::move(ownDomain);
  s.own.path = s.pathFor(s.own.name);
  State* raw = state_.get();
  s.readTimer.setSingleShot(true);
  QObject::connect(&s.readTimer, &QTimer::timeout, &s.context, [raw] { raw->reload(); });
  QObject::connect(&s.poll, &QTimer::timeout, &s.context, [raw] { raw->reload(); });
  s.reload();
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
  State::Domain& d = s.suites.emplace_back();
  d.name = domain;
  d.path = s.pathFor(domain);
  s.reload();
  s.queueCheck();
}

void PlistFileDefaults::registerDefaults(const Dictionary& d) {
  for (const auto& [key, v] : d) state_->registered[key] = v;
  state_->queueCheck();
}

bool PlistFileDefaults::ownDomainExists() const {
  return !state_->pending.empty() || identityOf(state_->own.path).exists;
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
