#include "SystemCommand.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace somnara::pmset {

CommandResult runSystemctl(const std::vector<std::string>& args) {
  CommandResult result;
  const char* program = nullptr;
  for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
    if (::access(candidate, X_OK) == 0) {
      program = candidate;
      break;
    }
  }
  if (!program) {
    result.error = "systemctl not found";
    return result;
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // The caller may block signals while it changes files; systemctl gets none blocked.
  posix_spawnattr_t attr;
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_init(&attr);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, program, nullptr, &attr, argv.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    result.error = std::string("cannot run ") + program + ": " + std::strerror(rc);
    return result;
  }
  result.started = true;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      result.error = std::string("cannot wait for ") + program + ": " + std::strerror(errno);
      return result;
    }
  }
  if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace somnara::pmset
