#pragma once

#include "host/Processes.h"

namespace somnara::sim {

class SimMachine;
class SimProgram;

/// One program's tools and its view of the machine's running programs.
class SimProcesses : public host::Processes {
 public:
  SimProcesses(SimMachine& machine, SimProgram& self) : machine_(machine), self_(self) {}

  /// Runs the tool through the machine's tool runner, serving every loop
  /// while it runs.
  std::optional<int> run(const std::string& path, const std::vector<std::string>& args) override;
  int currentPid() const override;
  unsigned effectiveUid() const override;
  std::vector<int> runningApplications(const std::string& bundleId) const override;
  std::optional<std::string> bundlePathOfApplication(int pid) const override;
  bool isAlive(int pid) const override;
  /// Queues the request on the target's loop; true when the target runs.
  bool terminate(int pid) override;
  bool forceTerminate(int pid) override;
  void kill(int pid) override;
  /// Ends the calling program with status; the call returns.
  void exitImmediately(int status) override;

 private:
  SimMachine& machine_;
  SimProgram& self_;
};

}  // namespace somnara::sim
