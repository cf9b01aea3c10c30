#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/sim/SimMachineState.h"
#include "host/sim/SimScheduler.h"

namespace somnara::sim {

/// The tools programs can start, and a record of every start.
///
/// Unless scripted otherwise, two tools behave like the real ones:
///  - "pmset" (the power tool): `sleepnow` records a sleep request;
///    `[force] hibernatemode <0|1|3|25>` needs root (else exit 1) and writes
///    N ("force": in force only; without it also into the saved settings),
///    but exits 4 for a mode that needs a kind of sleep the machine cannot do;
///    any other argument vector exits 2.
///  - "pmsethelper": `<power tool> [force] hibernatemode <0|1|3|25>` runs
///    the power tool as root when the helper file is privileged or the
///    caller is root, else exits 1; any other argument vector exits 64 and
///    runs nothing. Both read the command with the real tools' grammar
///    (powertool/HibernateModeArguments.h). The power tool is the path set with setPowerToolPath(),
///    or, while none is set, any path whose last component is "pmset".
/// Any other tool cannot be started.
class SimToolRunner {
 public:
  using Duration = std::chrono::milliseconds;

  struct Caller {
    std::string program;  // bundle identifier
    int pid;
    unsigned effectiveUid;
  };

  struct Run {
    Caller caller;
    std::string path;
    std::vector<std::string> args;
    Duration startedAt;
    std::optional<int> status;  // unset while running, or when it could not be started
  };

  /// How a tool behaves; tools are named by the last component of their path.
  struct Script {
    enum class Kind { Emulate, Exit, CannotStart, Custom };
    Kind kind = Kind::Emulate;
    int exitCode = 0;
    std::function<std::optional<int>(const Run&)> decide;
    /// Virtual time the tool runs; the caller serves its loop meanwhile, so
    /// every program's timers due within it fire before run() returns.
    Duration duration{0};

    static Script emulate() { return {}; }
    /// Exits with code and changes nothing (exit(0): "succeeds but never takes effect").
    static Script exit(int code) { return {Kind::Exit, code, {}, {}}; }
    static Script cannotStart() { return {Kind::CannotStart, 0, {}, {}}; }
    /// fn decides the status when the tool exits; it may call emulate().
    static Script custom(std::function<std::optional<int>(const Run&)> fn) { return {Kind::Custom, 0, std::move(fn), {}}; }
    Script taking(Duration d) const {
      Script s = *this;
      s.duration = d;
      return s;
    }
  };

  SimToolRunner(SimScheduler& scheduler, SimMachineState& state) : scheduler_(scheduler), state_(state) {}

  /// The one power tool the emulated helper will run; empty: any "pmset".
  void setPowerToolPath(std::string path) { powerToolPath_ = std::move(path); }

  void setScript(const std::string& tool, Script script) { scripts_[tool] = std::move(script); }
  void clearScript(const std::string& tool) { scripts_.erase(tool); }

  /// Starts a tool for caller and waits for it; the exit status, or nullopt
  /// when it could not be started.
  std::optional<int> run(const Caller& caller, const std::string& path, const std::vector<std::string>& args);

  /// What the real tool would do for this run.
  std::optional<int> emulate(const Run& run);

  const std::vector<Run>& runs() const { return runs_; }
  /// Runs of the tool with this name, for every caller or one program.
  int runCount(const std::string& tool, const std::string& program = {}) const;

  static std::string toolName(const std::string& path);

 private:
  std::optional<int> powerTool(const std::vector<std::string>& args, bool asRoot);
  std::optional<int> helper(const Run& run);

  SimScheduler& scheduler_;
  SimMachineState& state_;
  std::string powerToolPath_;
  std::map<std::string, Script> scripts_;
  std::vector<Run> runs_;
};

}  // namespace somnara::sim
