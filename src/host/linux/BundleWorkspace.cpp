#include "host/linux/BundleWorkspace.h"

#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <QVariantMap>

#include <map>

#include "fileio/FileIO.h"
#include "host/linux/BundleLocator.h"
#include "plist/PlistCodec.h"
#include "host/linux/CallbackRegistration.h"

namespace somnara::linuxhost {

struct BundleWorkspace::State {
  State(LogindClient& client, host::Logger& l) : logind(client), logger(l) {}

  LogindClient& logind;
  host::Logger& logger;
  std::string bundlePath;
  std::string identifier;
  std::string sessionId;
  unsigned pid = 0;

  std::map<std::uint64_t, std::pair<Event, std::function<void()>>> observers;
  std::uint64_t nextObserver = 1;

  bool sleepSetUp = false, sessionSetUp = false, reportedUnavailable = false;
  host::RegistrationPtr sleepWatch, sessionWatch;
  std::unique_ptr<LogindInhibitor> sleepDelay;
  QString sessionPath;
  std::optional<bool> sessionActive;

  void unavailable(const std::string& why) {
    if (reportedUnavailable) return;
    reportedUnavailable = true;
    logger.log("Sleep and session events unavailable: " + why);
  }

  void fire(Event event) {
    std::vector<std::uint64_t> ids;
    for (const auto& [id, o] : observers)
      if (o.first == event) ids.push_back(id);
    for (std::uint64_t id : ids) {
      auto it = observers.find(id);
      if (it == observers.end()) continue;
      auto fn = it->second.second;
      if (fn) fn();
    }
  }

  void takeSleepDelay() {
    if (sleepDelay) return;
    std::string error;
    sleepDelay = logind.inhibit("sleep", identifier.empty() ? std::string("Somnara") : identifier,
                                "Applying the sleep settings", "delay", &error);
    if (!sleepDelay) unavailable("logind Inhibit failed: " + error);
  }

  void onPrepareForSleep(bool start) {
    if (start) {
      fire(Event::WillSleep);
      sleepDelay.reset();
    } else {
      takeSleepDelay();
      fire(Event::DidWake);
    }
  }

  void setUpSleep() {
    if (sleepSetUp) return;
    sleepSetUp = true;
    if (!logind.busConnected()) {
      unavailable("system bus not connected");
      return;
    }
    sleepWatch = logind.watchPrepareForSleep([this](bool start) { onPrepareForSleep(start); });
    if (!sleepWatch) {
      unavailable("cannot watch PrepareForSleep");
      return;
    }
    takeSleepDelay();
  }

  void updateActive(bool active) {
    const bool changed = sessionActive && *sessionActive != active;
    sessionActive = active;
    if (changed) fire(active ? Event::SessionDidBecomeActive : Event::SessionDidResignActive);
  }

  void readActive() {
    if (auto active = logind.sessionActive(sessionPath)) updateActive(*active);
    else unavailable("cannot read the session's Active property");
  }

  void onSessionProperties(const QVariantMap& changed, const QStringList& invalidated) {
    if (auto it = changed.find(QStringLiteral("Active")); it != changed.end())
      updateActive(it->toBool());
    else if (invalidated.contains(QStringLiteral("Active")))
      readActive();
  }

  void setUpSession() {
    if (sessionSetUp) return;
    sessionSetUp = true;
    if (!logind.busConnected()) {
      unavailable("system bus not connected");
      return;
    }
    std::string error;
    auto path = logind.sessionPath(sessionId, pid, &error);
    if (!path) {
      unavailable("no logind session: " + error);
      return;
    }
    sessionPath = *path;
    sessionWatch = logind.watchSessionProperties(
        sessionPath, [this](const QVariantMap& changed, const QStringList& invalidated) {
          onSessionProperties(changed, invalidated);
        });
    if (!sessionWatch) {
      unavailable("cannot watch the session");
      return;
    }
    readActive();
  }
};

BundleWorkspace::BundleWorkspace(std::string executablePath, LogindClient& logind, host::Logger& logger,
                                 std::string sessionId, unsigned pid)
    : state_(std::make_shared<State>(logind, logger)) {
  if (auto bundle = BundleLocator::bundlePathForExecutable(executablePath)) {
    state_->bundlePath = *bundle;
    state_->identifier = BundleLocator::identifierOfBundle(*bundle);
  } else {
    const auto slash = executablePath.rfind('/');
    state_->bundlePath = slash == std::string::npos ? std::string(".")
                         : slash == 0               ? std::string("/")
                                                    : executablePath.substr(0, slash);
  }
  state_->sessionId = std::move(sessionId);
  state_->pid = pid;
}

BundleWorkspace::~BundleWorkspace() = default;

std::string BundleWorkspace::mainBundleIdentifier() const { return state_->identifier; }

std::string BundleWorkspace::mainBundlePath() const { return state_->bundlePath; }

std::optional<std::string> BundleWorkspace::pathForResource(const std::string& name) const {
  if (name.empty()) return std::nullopt;
  const std::string path = state_->bundlePath + "/Contents/Resources/" + name;
  if (!QFileInfo::exists(QString::fromStdString(path))) return std::nullopt;
  return path;
}

std::optional<Dictionary> BundleWorkspace::propertyListResource(const std::string& name) const {
  const auto path = pathForResource(name);
  if (!path) return std::nullopt;
  constexpr std::size_t kMaxResourceBytes = 1 << 20;
  const auto read = fileio::readFile(*path, kMaxResourceBytes);
  if (!read.content) return std::nullopt;
  auto parsed = plist::parse(*read.content);
  if (!parsed || !parsed->dictionary()) return std::nullopt;
  return *parsed->dictionary();
}

host::RegistrationPtr BundleWorkspace::observe(Event event, std::function<void()> onEvent) {
  const std::uint64_t id = state_->nextObserver++;
  state_->observers.emplace(id, std::make_pair(event, std::move(onEvent)));
  if (event == Event::WillSleep || event == Event::DidWake) state_->setUpSleep();
  if (event == Event::SessionDidBecomeActive || event == Event::SessionDidResignActive) state_->setUpSession();
  std::weak_ptr<State> weak = state_;
  return CallbackRegistration::make([weak, id] {
    if (auto s = weak.lock()) s->observers.erase(id);
  });
}

void BundleWorkspace::beep() {
  if (::isatty(STDERR_FILENO)) [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, "\a", 1);
}

bool BundleWorkspace::openFile(const std::string& path, const std::string& applicationPath) {
  const auto executable = BundleLocator::executableOfBundle(applicationPath);
  if (!executable) return false;
  return QProcess::startDetached(QString::fromStdString(*executable), {QString::fromStdString(path)});
}

void BundleWorkspace::fire(Event event) { state_->fire(event); }

bool BundleWorkspace::holdsSleepDelay() const { return state_->sleepDelay != nullptr; }

}  // namespace somnara::linuxhost
