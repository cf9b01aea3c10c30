#include "host/sim/SimProcesses.h"

#include "host/sim/SimMachine.h"
#include "host/sim/SimProgram.h"

namespace somnara::sim {

std::optional<int> SimProcesses::run(const std::string& path, const std::vector<std::string>& args) {
  return machine_.tools().run({self_.bundleIdentifier(), self_.pid(), self_.effectiveUid()}, path, args);
}

int SimProcesses::currentPid() const { return self_.pid(); }

unsigned SimProcesses::effectiveUid() const { return self_.effectiveUid(); }

std::vector<int> SimProcesses::runningApplications(const std::string& bundleId) const {
  std::vector<int> pids;
  for (const auto& program : machine_.programs())
    if (program->isRunning() && program->bundleIdentifier() == bundleId) pids.push_back(program->pid());
  return pids;
}

std::optional<std::string> SimProcesses::bundlePathOfApplication(int pid) const {
  SimProgram* program = machine_.runningProgram(pid);
  if (!program) return std::nullopt;
  return program->workspace().mainBundlePath();
}

bool SimProcesses::isAlive(int pid) const { return machine_.runningProgram(pid) != nullptr; }

bool SimProcesses::terminate(int pid) {
  SimProgram* target = machine_.runningProgram(pid);
  if (!target) return false;
  target->loop().post([target] {
    if (!target->ignoresTerminate()) target->terminate();
  });
  return true;
}

bool SimProcesses::forceTerminate(int pid) {
  SimProgram* target = machine_.runningProgram(pid);
  if (!target || target->resistsForceTerminate()) return false;
  target->end();
  return true;
}

void SimProcesses::kill(int pid) {
  if (SimProgram* target = machine_.runningProgram(pid)) target->end();
}

void SimProcesses::exitImmediately(int status) { self_.exitWithStatus(status); }

}  // namespace somnara::sim
