#include "host/linux/LinuxHost.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>

#include <cstdlib>

namespace somnara::linuxhost {

std::string LinuxHost::sessionId() {
  const char* session = std::getenv("XDG_SESSION_ID");
  return session ? session : "";
}

LinuxHost::LinuxHost()
    : logger_(programName()),
      root_(MachineRoot::fromEnvironment()),
      logind_(QDBusConnection::systemBus()),
      powerSources_(root_),
      powerManager_(root_, &logind_),
      authorization_(processes_) {
  const std::string executable = QCoreApplication::applicationFilePath().toStdString();
  workspace_ = std::make_unique<BundleWorkspace>(executable, logind_, logger_, sessionId(),
                                                 static_cast<unsigned>(::getpid()));
  std::string domain = workspace_->mainBundleIdentifier();
  if (domain.empty()) domain = QFileInfo(QString::fromStdString(executable)).fileName().toStdString();
  if (domain.empty()) domain = programName();
  defaults_ = std::make_unique<PlistFileDefaults>(domain, PlistFileDefaults::defaultDirectory(), logger_);
  const std::string crashReport = CrashRecorder::defaultReportPath(domain);
  const std::string logFile = LogFile::defaultPath(domain);
  logger_.setLogFile(std::make_unique<LogFile>(logFile));
  platform_ = std::make_unique<LinuxPlatform>(LinuxPlatform::currentRelease(), crashReport, logFile);
  crashRecorder_ = std::make_unique<CrashRecorder>(crashReport, domain);
  notifications_ = std::make_unique<DBusNotificationCenter>(QDBusConnection::sessionBus(), logger_);
  context_ = std::make_unique<host::HostContext>(host::HostContext::Ports{
      loop_, powerSources_, powerManager_, *defaults_, *notifications_, processes_, *workspace_, authorization_,
      logger_, fileWatch_, *platform_});
  signals_ = std::make_unique<TerminationSignals>([this](int) {
    willTerminate();
    QCoreApplication::quit();
  });
  if (auto* app = QCoreApplication::instance())
    aboutToQuit_ = QObject::connect(app, &QCoreApplication::aboutToQuit, [this] { willTerminate(); });
}

LinuxHost::~LinuxHost() {
  QObject::disconnect(aboutToQuit_);
  signals_.reset();
  context_.reset();  // the program's singletons go while every port still exists
}

std::string LinuxHost::programName() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? std::string("somnara") : name.toStdString();
}

int LinuxHost::exec() { return QCoreApplication::exec(); }

int LinuxHost::run(host::ApplicationDelegate& delegate) {
  delegate.awakeFromNib();
  loop_.schedule(std::chrono::milliseconds(0), false, [&delegate] { delegate.applicationDidFinishLaunching(); });
  return exec();
}

void LinuxHost::willTerminate() {
  if (terminationAnnounced_) return;
  terminationAnnounced_ = true;
  if (signals_) signals_->ignoreFurtherSignals();
  workspace_->fire(host::Workspace::Event::WillTerminate);
  defaults_->synchronize();
}

}  // namespace somnara::linuxhost
