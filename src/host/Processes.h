#pragma once

#include <optional>
#include <string>
#include <vector>

namespace somnara::host {

/// Tools started by the program, and the program's own identity.
class Processes {
 public:
  virtual ~Processes() = default;

  /// Starts the executable at path with args (argv[1..]) and waits for it to
  /// exit while serving the run loop. Returns its exit status; nullopt when it
  /// could not be started or did not exit normally.
  virtual std::optional<int> run(const std::string& path, const std::vector<std::string>& args) = 0;

  virtual int currentPid() const = 0;
  virtual unsigned effectiveUid() const = 0;

  /// Pids of the running programs whose bundle identifier is bundleId,
  /// this program included when it matches.
  virtual std::vector<int> runningApplications(const std::string& bundleId) const = 0;
  /// The application bundle the running process was started from; nullopt
  /// when it is gone or runs from outside a bundle.
  virtual std::optional<std::string> bundlePathOfApplication(int pid) const = 0;
  /// Signal-0 probe: the process exists and may be signalled by us.
  virtual bool isAlive(int pid) const = 0;
  /// Asks the process to quit through its normal termination path.
  virtual bool terminate(int pid) = 0;
  /// Makes the process quit at once; false when that could not be done.
  virtual bool forceTerminate(int pid) = 0;
  /// Sends signal 9.
  virtual void kill(int pid) = 0;

  /// Ends this program at once with status, skipping its normal termination
  /// path. Returns only where the host cannot end the process itself (a
  /// simulation); the caller then simply returns.
  virtual void exitImmediately(int status) = 0;
};

}  // namespace somnara::host
