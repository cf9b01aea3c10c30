#include "ORVPrivate/Appkit/ProcessTermination.h"

namespace somnara {
namespace {

using namespace std::chrono_literals;
constexpr double kQuitDeadlineSeconds = 0.7;
constexpr auto kQuitPoll = 50ms;

}  // namespace

bool terminateWithEscalation(host::HostContext& context, int pid) {
  auto& processes = context.processes();
  auto& loop = context.loop();
  processes.terminate(pid);
  const double deadline = loop.now() + kQuitDeadlineSeconds;
  while (processes.isAlive(pid) && deadline - loop.now() > 0.0) {
    processes.terminate(pid);
    loop.sleepBlocking(kQuitPoll);
  }
  if (processes.isAlive(pid) && !processes.forceTerminate(pid)) {
    processes.kill(pid);
    return false;
  }
  return true;
}

}  // namespace somnara
