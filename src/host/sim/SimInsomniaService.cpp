#include "host/sim/SimInsomniaService.h"

namespace somnara::sim {

bool SimInsomniaRemote::start(double seconds) {
  auto* handler = state_.insomniaHandler();
  if (handler) handler->start(seconds);
  return handler != nullptr;
}

bool SimInsomniaRemote::stop() {
  auto* handler = state_.insomniaHandler();
  if (handler) handler->stop();
  return handler != nullptr;
}

std::optional<host::InsomniaState> SimInsomniaRemote::state() {
  auto* handler = state_.insomniaHandler();
  if (!handler) return std::nullopt;
  return handler->state();
}

}  // namespace somnara::sim
