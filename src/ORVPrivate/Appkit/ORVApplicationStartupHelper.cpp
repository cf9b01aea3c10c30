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

// The last path component, a trailing slash not counting.
std::string lastComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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
  for (const auto& path : paths) {
    const std::string name = lastComponent(path);
    if (name == "pmsethelper" || name == "Resources") continue;
    ORV_FUNCTION_LOG(context.logger(), "ORVPrivate/Appkit/ORVApplicationStartupHelper", "fsevents_callback",
                     "path changed - exiting to prevent installer from getting confused: " + path);
    context.processes().exitImmediately(1);
    return;
  }
}

}  // namespace somnara
