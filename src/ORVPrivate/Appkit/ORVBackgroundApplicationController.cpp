#include "ORVPrivate/Appkit/ORVBackgroundApplicationController.h"

#include "ORVPrivate/Appkit/ProcessTermination.h"
#include "platform/LogLine.h"

namespace somnara {
namespace {

using namespace std::chrono_literals;
constexpr int kLaunchAttempts = 10;
constexpr auto kLaunchRetryWait = 500ms;
constexpr const char* kLoginItems = "/Contents/Library/LoginItems";

// Paths name the same bundle regardless of trailing slashes.
std::string normalised(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ORVBackgroundApplicationController::findPath(host::HostContext& context, host::Applications& applications,
                                                         const std::string& name) {
  const std::string bundle = context.workspace().mainBundlePath();
  const std::string loginItems = bundle + kLoginItems;
  // A name that is a path of its own would reach outside the bundle.
  const bool plainName = !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
  if (plainName) {
    for (const std::string& candidate : {bundle + "/Contents/MacOS/" + name,          // auxiliary executable
                                         bundle + "/Contents/PlugIns/" + name + ".app",  // built-in plug-in
                                         loginItems + "/" + name + ".app"})
      if (applications.fileExists(candidate)) return candidate;
  }
  for (const std::string& entry : applications.contentsOfDirectory(loginItems)) {
    const std::string path = loginItems + "/" + entry;
    const auto info = applications.bundleAt(path);
    if (!info) continue;
    if (info->identifier == name || info->name == name) return path;
  }
  return loginItems + "/" + name + ".app";
}

std::unique_ptr<ORVBackgroundApplicationController> ORVBackgroundApplicationController::initWithName(
    host::HostContext& context, host::Applications& applications, host::LoginItems& loginItems,
    const std::string& name) {
  const std::string path = findPath(context, applications, name);
  if (!applications.fileExists(path)) {
    static const char kClass[] = "ORVBackgroundApplicationController";
    ORV_LOG(context.logger(), kClass, "-[ORVBackgroundApplicationController initWithName:]",
            "Could not find backgroundApplication path for name:" + name);
    return nullptr;
  }
  auto info = applications.bundleAt(path).value_or(host::Applications::BundleInfo{});
  return std::unique_ptr<ORVBackgroundApplicationController>(
      new ORVBackgroundApplicationController(context, applications, loginItems, path, std::move(info)));
}

ORVBackgroundApplicationController::ORVBackgroundApplicationController(host::HostContext& context,
                                                                       host::Applications& applications,
                                                                       host::LoginItems& loginItems, std::string url,
                                                                       host::Applications::BundleInfo info)
    : context_(context), applications_(applications), loginItems_(loginItems), url_(std::move(url)),
      info_(std::move(info)) {
  willTerminate_ = context_.workspace().observe(host::Workspace::Event::WillTerminate,
                                                [this] { applicationWillTerminate(); });
}

ORVBackgroundApplicationController::~ORVBackgroundApplicationController() {
  willTerminate_.reset();
  terminateIfNotLoginItem();
}

void ORVBackgroundApplicationController::fail(int line, const char* method, const std::string& message) {
  lastFailure_ = message;
  context_.logger().log(platform::formatLogLine(this, line, method, message));
}

bool ORVBackgroundApplicationController::isLoginitem() {
  const auto items = loginItems_.snapshot();
  if (!items) return false;
  for (const auto& item : *items) {
    if (!item.bundlePath || normalised(*item.bundlePath) != normalised(url_)) continue;
    if (followLoginItem_) setLaunch(true);
    return true;
  }
  return false;
}

void ORVBackgroundApplicationController::setLoginitem(bool loginitem) {
  static const char kMethod[] = "-[ORVBackgroundApplicationController setLoginitem:]";
  willChangeValueForKey("loginitem");
  lastFailure_.clear();
  if (followLoginItem_) setLaunch(loginitem);
  const std::string launchFailure = lastFailure_;
  if (!(loginitem && isLoginitem())) {
    if (const auto items = loginItems_.snapshot(); !items) {
      fail(__LINE__, kMethod, "Weird LoginItem state - could not find a list");
    } else if (!loginitem) {
      for (const auto& item : *items) {
        if (!item.bundlePath || normalised(*item.bundlePath) != normalised(url_)) continue;
        if (auto error = loginItems_.remove(item)) fail(__LINE__, kMethod, "Could not remove login item: " + *error);
      }
    } else if (auto error = loginItems_.insertLast(info_.name, url_, true)) {
      fail(__LINE__, kMethod, "Could not add login item: " + *error);
    }
  }
  if (lastFailure_.empty()) lastFailure_ = launchFailure;
  didChangeValueForKey("loginitem");
}

std::optional<int> ORVBackgroundApplicationController::launchOnce(std::string& error) {
  // An instance already running from this bundle is the one handed back.
  const int running = backgroundApplicationProcessIdentifier();
  if (running >= 0) return running;
  auto result = applications_.launchApplication(url_);
  if (!result.pid) error = result.error;
  return result.pid;
}

void ORVBackgroundApplicationController::setLaunch(bool launch) {
  if (!launch) {
    terminate();
    return;
  }
  // Observers hear of a change only: reading the login item of a running
  // program asks for a launch, and a window bound to both must not loop.
  const bool wasLaunched = isLaunched();
  if (!wasLaunched) willChangeValueForKey("launch");
  std::optional<int> launched;
  std::string error;
  for (int attempt = 0; attempt < kLaunchAttempts && !launched; ++attempt) {
    launched = launchOnce(error);
    if (!launched) context_.loop().sleepBlocking(kLaunchRetryWait);
  }
  if (!launched) {
    fail(__LINE__, "-[ORVBackgroundApplicationController setLaunch:]",
         "Could not launch application " + url_ + " due to " + error);
  } else if (!info_.identifier.empty()) {
    auto& processes = context_.processes();
    for (int pid : processes.runningApplications(info_.identifier))
      if (pid != *launched && processes.isAlive(pid)) processes.terminate(pid);
  }
  if (!wasLaunched) didChangeValueForKey("launch");
}

int ORVBackgroundApplicationController::backgroundApplicationProcessIdentifier() {
  if (info_.identifier.empty()) return -1;
  auto& processes = context_.processes();
  for (int pid : processes.runningApplications(info_.identifier)) {
    const auto bundle = processes.bundlePathOfApplication(pid);
    if (bundle && normalised(*bundle) == normalised(url_) && processes.isAlive(pid)) return pid;
  }
  return -1;
}

void ORVBackgroundApplicationController::terminate() {
  if (info_.identifier.empty()) return;
  auto& processes = context_.processes();
  std::vector<int> live;
  for (int pid : processes.runningApplications(info_.identifier))
    if (processes.isAlive(pid)) live.push_back(pid);
  if (live.empty()) return;
  willChangeValueForKey("launch");
  for (int pid : live) {
    if (!terminateWithEscalation(context_, pid))
      ORV_LOG(context_.logger(), this, "-[ORVBackgroundApplicationController terminate]",
              "Background application can't be terminated:<RunningApplication pid=" + std::to_string(pid) +
                  " bundleIdentifier=" + info_.identifier + ">");
  }
  didChangeValueForKey("launch");
}

void ORVBackgroundApplicationController::terminateIfNotLoginItem() {
  if (!isLoginitem()) terminate();
}

}  // namespace somnara
