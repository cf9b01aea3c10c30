#include "host/sim/SimProgram.h"

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

std::string defaultBundlePath(const std::string& bundleIdentifier) {
  auto dot = bundleIdentifier.rfind('.');
  return "/Applications/" + (dot == std::string::npos ? bundleIdentifier : bundleIdentifier.substr(dot + 1)) +
         ".app";
}

}  // namespace

SimProgram::SimProgram(SimMachine& machine, std::string bundleIdentifier, int pid, const Options& options)
    : machine_(machine),
      bundleIdentifier_(std::move(bundleIdentifier)),
      pid_(pid),
      effectiveUid_(options.effectiveUid),
      loop_(machine.scheduler(), pid),
      powerSources_(machine.state(), loop_),
      powerManager_(machine.state()),
      defaults_(machine.defaults(), loop_, bundleIdentifier_),
      notifications_(machine.notifications(), loop_, bundleIdentifier_),
      processes_(machine, *this),
      workspace_(bundleIdentifier_,
                 options.bundlePath.empty() ? defaultBundlePath(bundleIdentifier_) : options.bundlePath),
      authorization_(machine.state()),
      logger_(machine.logs(), loop_, bundleIdentifier_, pid),
      fileWatch_(loop_),
      platform_(machine.state()),
      systemPower_(machine.desktop(), bundleIdentifier_, pid),
      insomniaDriver_(machine.desktop()),
      clamshell_(machine.desktop(), loop_),
      displays_(machine.desktop(), loop_),
      sounds_(machine.desktop(), workspace_),
      notices_(machine.desktop()),
      inhibitors_(machine.desktop()),
      insomniaService_(machine.desktop()),
      sessionLock_(machine.desktop(), loop_),
      context_(std::make_unique<host::HostContext>(host::HostContext::Ports{
          loop_, powerSources_, powerManager_, defaults_, notifications_, processes_, workspace_, authorization_,
          logger_, fileWatch_, platform_})) {}

SimProgram::~SimProgram() { context_.reset(); }

void SimProgram::terminate() {
  if (!running_) return;
  workspace_.fire(host::Workspace::Event::WillTerminate);
  end();
}

void SimProgram::end() {
  if (!running_) return;
  running_ = false;
  machine_.scheduler().retire(loop_.owner());
}

void SimProgram::exitWithStatus(int status) {
  if (!running_) return;
  exitStatus_ = status;
  end();
}

void SimProgram::setHelperPrivileged(bool privileged) { machine_.state().setPrivileged(helperPath(), privileged); }

}  // namespace somnara::sim
