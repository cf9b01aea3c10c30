#pragma once

#include <string>
#include <vector>

namespace somnara::pmset {

/// Outcome of running an external program and waiting for it.
struct CommandResult {
  bool started = false;
  int exitStatus = -1;  // exit code when it exited normally
  int signal = 0;       // terminating signal, 0 when it exited
  std::string error;    // why it could not start or be waited for
};

/// Runs systemctl with args (found in /usr/bin or /bin) and waits for it.
CommandResult runSystemctl(const std::vector<std::string>& args);

}  // namespace somnara::pmset
