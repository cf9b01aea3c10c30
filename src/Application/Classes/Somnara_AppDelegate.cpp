#include "Application/Classes/Somnara_AppDelegate.h"

#include <utility>
#include <vector>

#include "Application/Classes/UpdateMenuPlacement.h"
#include "core/Constants.h"
#include "platform/LogLine.h"
#include "platform/ORVCrashReporter.h"

namespace somnara {

Somnara_AppDelegate::Somnara_AppDelegate(host::HostContext& context, host::PreferencesPorts ports,
                                         ApplicationInterface& interface)
    : context_(context), ports_(ports), interface_(interface) {}

Somnara_AppDelegate::~Somnara_AppDelegate() {
  if (ports_.updater) ports_.updater->setDelegate(nullptr);
  // The interface lets go of the controllers before they go.
  interface_.bindBackgroundControllers(nullptr, nullptr);
}

void Somnara_AppDelegate::awakeFromNib() {
  platform::ORVCrashReporter::testForCrashWithBodyString(context_, nullptr);
  const bool firstStart = !context_.defaults().ownDomainExists();
  menuBarController_ = ORVBackgroundApplicationController::initWithName(context_, ports_.applications, ports_.loginItems,
                                                                        kS_SomnaraMenuBarBundleIdentifier);
  daemonController_ = ORVBackgroundApplicationController::initWithName(context_, ports_.applications, ports_.loginItems,
                                                                       kS_SomnaraDaemonBundleIdentifier);
  updateVersionTextField();
  if (daemonController_) daemonController_->setLaunchandterminateonloginitemstate(false);
  interface_.bindBackgroundControllers(menuBarController_.get(), daemonController_.get());
  // Stopping and starting programs blocks: the window shows first.
  afterWindowShown([this, firstStart] {
    if (daemonController_) {
      daemonController_->terminate();
      daemonController_->setLaunch(true);
    }
    if (firstStart) startBothAtEveryLogin();
  });
  lookForStatusAreaOnceShown();
}

void Somnara_AppDelegate::afterWindowShown(std::function<void()> fn) {
  std::weak_ptr<const bool> alive = alive_;
  interface_.afterWindowShown([alive, fn = std::move(fn)] {
    if (!alive.expired()) fn();
  });
}

void Somnara_AppDelegate::startBothAtEveryLogin() {
  std::vector<std::string> started;
  const std::pair<ORVBackgroundApplicationController*, const char*> programs[] = {
      {menuBarController_.get(), "tray icon"}, {daemonController_.get(), "daemon"}};
  for (const auto& [controller, name] : programs) {
    if (!controller) continue;
    controller->setLoginitem(true);
    if (controller->isLoginitem()) started.emplace_back(name);
  }
  // Later starts find the domain, so the user's switches are never overridden.
  context_.defaults().setValue(kFirstStartDoneKey, Value(true));
  context_.defaults().synchronize();
  if (started.empty()) return;
  const bool both = started.size() == 2;
  interface_.setNotice(ApplicationInterface::Notice::FirstStart,
                       "Somnara's " + (both ? started[0] + " and " + started[1] : started[0]) +
                           (both ? " now start" : " now starts") +
                           " at every login; the switches under \"Background programs\" turn that off.");
}

void Somnara_AppDelegate::applicationWillBecomeActive() {
  interface_.makeKeyAndOrderFront();
  lookForStatusAreaOnceShown();
}

void Somnara_AppDelegate::lookForStatusAreaOnceShown() {
  // Asking the session bus blocks; one look serves every request made meanwhile.
  if (statusAreaLookPending_) return;
  statusAreaLookPending_ = true;
  afterWindowShown([this] {
    statusAreaLookPending_ = false;
    const bool none = ports_.statusArea.find() == host::StatusArea::Kind::None;
    interface_.setNotice(ApplicationInterface::Notice::NoStatusArea, none ? kNoStatusAreaNotice : "");
  });
}

void Somnara_AppDelegate::applicationDidFinishLaunching() {
  host::Updater* updater = ports_.updater;
  if (!updater) return;
  if (const auto titles = interface_.applicationMenuTitles())
    interface_.insertApplicationMenuItem(updateMenuItemIndex(*titles), kCheckForUpdatesTitle,
                                         [updater] { updater->checkForUpdates(); });
  updater->setDelegate(this);
}

void Somnara_AppDelegate::updaterWillInstallUpdate() {
  ORV_LOG(context_.logger(), this, "-[Somnara_AppDelegate updater:willInstallUpdate:]", "");
  if (daemonController_) daemonController_->terminate();
  if (menuBarController_) menuBarController_->terminate();
}

bool Somnara_AppDelegate::openFile(const std::string&) {
  interface_.makeKeyAndOrderFront();
  return true;
}

void Somnara_AppDelegate::openResource(const std::string& name, const std::string& title) {
  const auto path = context_.workspace().pathForResource(name);
  if (path && !ports_.desktop.openWithDefaultApplication(*path)) showWhereFileIs(title, *path);
}

void Somnara_AppDelegate::showWhereFileIs(const std::string& title, const std::string& path) {
  interface_.showMessage(title, "No program to open this file was found. The file is at:\n" + path);
}

void Somnara_AppDelegate::showLog() {
  constexpr const char* kShowLog = "-[Somnara_AppDelegate showLog:]";
  const auto path = platform::ORVCrashReporter::logFileName(context_);
  if (!path || !ports_.applications.fileExists(*path)) {
    ORV_LOG(context_.logger(), this, kShowLog, "Can't find logfile: " + (path ? *path : std::string("(null)")));
    context_.workspace().beep();
    return;
  }
  if (ports_.desktop.openWithDefaultApplication(*path)) return;
  ORV_LOG(context_.logger(), this, kShowLog, "Can't open logfile: " + *path);
  showWhereFileIs("Log", *path);
}

void Somnara_AppDelegate::updateVersionTextField() {
  const std::string bundle = context_.workspace().mainBundlePath();
  const auto info = ports_.applications.bundleAt(bundle).value_or(host::Applications::BundleInfo{});
  interface_.setVersionText(VersionText::make(info.shortVersion, info.version, info.copyright));
}

}  // namespace somnara
