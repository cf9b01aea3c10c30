#include "host/linux/BundleWorkspace.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QFileInfo>
#include <QProcess>
#include <QVariantMap>

#include <map>

#include "fileio/FileIO.h"
#include "host/linux/BundleLocator.h"
#include "plist/PlistCodec.h"
#include "host/linux/CallbackRegistration.h"
#include "host/linux/DBusSignalRelay.h"

namespace somnara::linuxhost {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kCallTimeoutMs = 5000;

}  // namespace

struct BundleWorkspace::State {
  State(QDBusConnection bus, host::Logger& l) : systemBus(std::move(bus)), logger(l) {}
  ~State() { releaseSleepDelay(); }

  QDBusConnection systemBus;
  host::Logger& logger;
  std::string bundlePath;
  std::string identifier;
  std::string sessionId;
  unsigned pid = 0;

  std::map<std::uint64_t, std::pair<Event, std::function<void()>>> observers;
  std::uint64_t nextObserver = 1;

  QObject relays;
  bool sleepSetUp = false, sessionSetUp = false, reportedUnavailable = false;
  int sleepDelayFd = -1;
  QString sessionPath;
  std::optional<bool> sessionActive;

  void unavailable(const std::string& why) {
    if (reportedUnavailable) return;
    reportedUnavailable = true;
    logger.log("Sleep and session events unavailable: " + why);
  }

  std::optional<QDBusMessage> call(const QString& path, const QString& iface, const QString& method,
                                   const QList<QVariant>& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(kLogind, path, iface, method);
    m.setArguments(args);
    QDBusMessage reply = systemBus.call(m, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
      unavailable("logind " + method.toStdString() + " failed: " + reply.errorMessage().toStdString());
      return std::nullopt;
    }
    return reply;
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
    if (sleepDelayFd >= 0) return;
    const std::string who = identifier.empty() ? std::string("Somnara") : identifier;
    auto reply = call(kManagerPath, kManager, QStringLiteral("Inhibit"),
                      {QStringLiteral("sleep"), QString::fromStdString(who),
                       QStringLiteral("Applying the sleep settings"), QStringLiteral("delay")});
    if (!reply || reply->arguments().isEmpty()) return;
    const auto fd = reply->arguments().first().value<QDBusUnixFileDescriptor>();
    if (!fd.isValid()) {
      unavailable("logind returned no inhibitor descriptor");
      return;
    }
    sleepDelayFd = ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
  }

  void releaseSleepDelay() {
    if (sleepDelayFd < 0) return;
    ::close(sleepDelayFd);
    sleepDelayFd = -1;
  }

  void onPrepareForSleep(const QDBusMessage& m) {
    if (m.arguments().isEmpty()) return;
    if (m.arguments().first().toBool()) {
      fire(Event::WillSleep);
      releaseSleepDelay();
    } else {
      takeSleepDelay();
      fire(Event::DidWake);
    }
  }

  void setUpSleep() {
    if (sleepSetUp) return;
    sleepSetUp = true;
    if (!systemBus.isConnected()) {
      unavailable("system bus not connected");
      return;
    }
    auto* relay = new DBusSignalRelay([this](const QDBusMessage& m) { onPrepareForSleep(m); }, &relays);
    if (!systemBus.connect(kLogind, kManagerPath, kManager, QStringLiteral("PrepareForSleep"), relay,
                           SLOT(deliver(QDBusMessage)))) {
      unavailable("cannot watch PrepareForSleep: " + systemBus.lastError().message().toStdString());
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
    auto reply = call(sessionPath, kProperties, QStringLiteral("Get"), {kSession, QStringLiteral("Active")});
    if (!reply || reply->arguments().isEmpty()) return;
    updateActive(reply->arguments().first().value<QDBusVariant>().variant().toBool());
  }

  void onSessionProperties(const QDBusMessage& m) {
    const auto args = m.arguments();
    if (args.size() < 3 || args[0].toString() != kSession) return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(args[1]);
    if (auto it = changed.find(QStringLiteral("Active")); it != changed.end()) {
      QVariant v = *it;
      if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        v = v.value<QDBusVariant>().variant();
      updateActive(v.toBool());
    } else if (qdbus_cast<QStringList>(args[2]).contains(QStringLiteral("Active"))) {
      readActive();
    }
  }

  void setUpSession() {
    if (sessionSetUp) return;
    sessionSetUp = true;
    if (!systemBus.isConnected()) {
      unavailable("system bus not connected");
      return;
    }
    auto reply = sessionId.empty()
                     ? call(kManagerPath, kManager, QStringLiteral("GetSessionByPID"), {QVariant::fromValue(pid)})
                     : call(kManagerPath, kManager, QStringLiteral("GetSession"), {QString::fromStdString(sessionId)});
    if (!reply || reply->arguments().isEmpty()) return;
    sessionPath = reply->arguments().first().value<QDBusObjectPath>().path();
    if (sessionPath.isEmpty()) {
      unavailable("logind named no session");
      return;
    }
    auto* relay = new DBusSignalRelay([this](const QDBusMessage& m) { onSessionProperties(m); }, &relays);
    if (!systemBus.connect(kLogind, sessionPath, kProperties, QStringLiteral("PropertiesChanged"), {kSession},
                           QString(), relay, SLOT(deliver(QDBusMessage)))) {
      unavailable("cannot watch the session: " + systemBus.lastError().message().toStdString());
      return;
    }
    readActive();
  }
};

BundleWorkspace::BundleWorkspace(std::string executablePath, QDBusConnection systemBus, host::Logger& logger,
                                 std::string sessionId, unsigned pid)
    : state_(std::make_shared<State>(std::move(systemBus), logger)) {
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

bool BundleWorkspace::holdsSleepDelay() const { return state_->sleepDelayFd >= 0; }

}  // namespace somnara::linuxhost
