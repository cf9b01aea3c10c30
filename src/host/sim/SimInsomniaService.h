#pragma once

#include "host/InsomniaRemote.h"
#include "host/InsomniaService.h"
#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

/// The agent's side: offers its handler on the simulated session.
class SimInsomniaService : public host::InsomniaService {
 public:
  explicit SimInsomniaService(SimDesktopState& state) : state_(state) {}
  host::RegistrationPtr publish(Handler& handler) override { return state_.publishInsomnia(handler); }

 private:
  SimDesktopState& state_;
};

/// A caller's side: reaches the handler offered now, synchronously.
class SimInsomniaRemote : public host::InsomniaRemote {
 public:
  explicit SimInsomniaRemote(SimDesktopState& state) : state_(state) {}

  bool start(double seconds) override;
  bool stop() override;
  std::optional<host::InsomniaState> state() override;
  std::string failureReason() const override { return "no agent answers"; }

 private:
  SimDesktopState& state_;
};

}  // namespace somnara::sim
