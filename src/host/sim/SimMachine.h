#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/sim/SimDefaultsStore.h"
#include "host/sim/SimDesktopState.h"
#include "host/sim/SimLogBook.h"
#include "host/sim/SimMachineState.h"
#include "host/sim/SimNotificationHub.h"
#include "host/sim/SimProgram.h"
#include "host/sim/SimScheduler.h"
#include "host/sim/SimToolRunner.h"

namespace somnara::sim {

/// A simulated machine in virtual time: one clock and timer queue, the
/// machine's state, the shared defaults store, the notification bus, the
/// tools, the log, and the programs running on it side by side.
class SimMachine {
 public:
  SimMachine();
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  /// Starts a program with the next pid (from 1001). Its helper file is
  /// privileged when helpersPrivilegedAtStart() holds (by default it does).
  SimProgram& addProgram(std::string bundleIdentifier, const SimProgram::Options& options = {});
  void setHelpersPrivilegedAtStart(bool privileged) { helpersPrivilegedAtStart_ = privileged; }
  bool helpersPrivilegedAtStart() const { return helpersPrivilegedAtStart_; }

  /// Fires every timer of every program due within d, in due order, then
  /// leaves the clock at now + d.
  void advance(std::chrono::milliseconds d) { scheduler_.advance(d); }
  /// Fires what is due now, including zero-delay work it schedules.
  void runPending() { scheduler_.runPending(); }
  /// Virtual time since start.
  std::chrono::milliseconds elapsed() const { return scheduler_.now(); }

  // Machine-wide workspace events, fired now in every running program.
  void sleep();
  void wake();
  void activateSession();
  void resignSession();

  /// The running program with this pid; null when none.
  SimProgram* runningProgram(int pid);
  const std::vector<std::unique_ptr<SimProgram>>& programs() const { return programs_; }

  SimScheduler& scheduler() { return scheduler_; }
  SimMachineState& state() { return state_; }
  SimDesktopState& desktop() { return desktop_; }
  SimDefaultsStore& defaults() { return defaults_; }
  SimNotificationHub& notifications() { return notifications_; }
  SimToolRunner& tools() { return tools_; }
  SimLogBook& logs() { return logs_; }

 private:
  void fireEverywhere(host::Workspace::Event event);

  SimScheduler scheduler_;
  SimMachineState state_;
  SimDesktopState desktop_;
  SimDefaultsStore defaults_;
  SimNotificationHub notifications_;
  SimToolRunner tools_;
  SimLogBook logs_;
  bool helpersPrivilegedAtStart_ = true;
  int nextPid_ = 1001;
  // Last, so that programs end before the shared parts they use.
  std::vector<std::unique_ptr<SimProgram>> programs_;
};

}  // namespace somnara::sim
