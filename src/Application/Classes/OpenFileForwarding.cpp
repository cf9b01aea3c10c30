#include "Application/Classes/OpenFileForwarding.h"

namespace somnara {

int OpenFileForwarding::runningInstance(host::HostContext& context) {
  auto& processes = context.processes();
  const std::string id = context.workspace().mainBundleIdentifier();
  if (id.empty()) return -1;
  for (int pid : processes.runningApplications(id))
    if (pid != processes.currentPid() && processes.isAlive(pid)) return pid;
  return -1;
}

host::RegistrationPtr OpenFileForwarding::forward(host::HostContext& context, const std::string& path,
                                                  std::function<void()> onSent) {
  auto registration = receive(context, [path, onSent = std::move(onSent)](const std::string& sent) {
    if (sent == path) onSent();
  });
  context.notifications().post({kNotificationName, context.workspace().mainBundleIdentifier(), Value(path)});
  return registration;
}

host::RegistrationPtr OpenFileForwarding::receive(host::HostContext& context,
                                                  std::function<void(const std::string& path)> onOpenFile) {
  return context.notifications().observe(
      kNotificationName, context.workspace().mainBundleIdentifier(),
      [onOpenFile = std::move(onOpenFile)](const host::Notification& n) {
        const std::string* path = n.userInfo ? n.userInfo->string() : nullptr;
        if (path) onOpenFile(*path);
      });
}

}  // namespace somnara
