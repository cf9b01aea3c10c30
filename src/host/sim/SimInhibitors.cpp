#include "host/sim/SimInhibitors.h"

namespace somnara::sim {

std::vector<host::Inhibitor> SimInhibitors::list() {
  auto inhibitors = state_.listInhibitors();
  for (auto& inhibitor : inhibitors) inhibitor.isOwn = host::Inhibitor::isSomnaraName(inhibitor.who);
  return inhibitors;
}

}  // namespace somnara::sim
