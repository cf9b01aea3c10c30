#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"

#include "ORVPrivate/Appkit/ProcessTermination.h"
#include "platform/LogLine.h"

namespace somnara {
namespace {

const void* const kClass = "ORVApplicationStartupHelper";  // stands in for the class object in log lines

// Keeps the bundle watch registered for the life of the program.
struct BundleWatch {
  host::RegistrationPtr registration;
};

std::string applicationRecord(int pid, const std::string& bundleId) {
  return "<RunningApplication pid=" + std::to_string(pid) + " bundleIdentifier=" + bundleId + ">";
}

// Whether a changed path is the bundle's own business: the helper, whose
// owner and mode the program repairs, a directory named Resources, or
// anything inside such a directory (images, sounds, the defaults resource).
// The watch reports the changed file itself, so "inside" counts; only the
// part of the path below the bundle is looked at.
bool isResourceChange(const std::string& bundlePath, std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last == "pmsethelper" || last == "Resources") return true;
  const bool below = path.size() > bundlePath.size() && path.compare(0, bundlePath.size(), bundlePath) == 0 &&
                     path[bundlePath.size()] == '/';
  return below && path.find("/Resources/", bundlePath.size()) != std::string::npos;
}

}  // namespace

void ORVApplicationStartupHelper::standardApplicationStartup(host::HostContext& context) {
  killAllOtherInstancesOfMyself(context);
  startCheckingForBundlePathBeeingChanged(context);
}

void ORVApplicationStartupHelper::killAllOtherInstancesOfMyself(host::HostContext& context) {
  auto& processes = context.processes();
  const std::string bundleId = context.workspace().mainBundleIdentifier();
  if (bundleId.empty()) return;
  const int self = processes.currentPid();
  for (int pid : processes.runningApplications(bundleId)) {
    if (pid == self || !processes.isAlive(pid)) continue;
    ORV_LOG(context.logger(), kClass, "+[ORVApplicationStartupHelper killAllOtherInstancesOfMyself]",
            "Found myself running already - will terminate other application: " + applicationRecord(pid, bundleId));
    if (!terminateWithEscalation(context, pid)) {
      ORV_LOG(context.logger(), kClass, "+[ORVApplicationStartupHelper killAllOtherInstancesOfMyself]",
              "Background application can't be terminated:" + applicationRecord(pid, bundleId));
    }
  }
}

void ORVApplicationStartupHelper::startCheckingForBundlePathBeeingChanged(host::HostContext& context) {
  // A program run from outside a bundle has no bundle to guard; watching the
  // directory it happens to lie in would end it for unrelated changes.
  if (context.workspace().mainBundleIdentifier().empty()) return;
  auto registration = context.fileWatch().watch(
      context.workspace().mainBundlePath(),
      [&context](const std::vector<std::string>& paths) { bundleChanged(context, paths); });
  if (!registration) {
    ORV_LOG(context.logger(), kClass, "+[ORVApplicationStartupHelper startCheckingForBundlePathBeeingChanged]",
            "Got NO stream to watch");
    return;
  }
  context.adoptSingleton(new BundleWatch{std::move(registration)});
}

void ORVApplicationStartupHelper::bundleChanged(host::HostContext& context, const std::vector<std::string>& paths) {
  const std::string bundlePath = context.workspace().mainBundlePath();
  for (const auto& path : paths) {
    if (isResourceChange(bundlePath, path)) continue;
    ORV_FUNCTION_LOG(context.logger(), "ORVPrivate/Appkit/ORVApplicationStartupHelper", "fsevents_callback",
                     "path changed - exiting to prevent installer from getting confused: " + path);
    context.processes().exitImmediately(1);
    return;
  }
}

}  // namespace somnara
