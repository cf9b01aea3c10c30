#pragma once

#include "host/TrayHosts.h"

namespace somnara::sim {

/// The simulated desktop has no status area, nor one that could appear: an
/// icon shown there waits.
class SimTrayHosts : public host::TrayHosts {
 public:
  bool notifierHostPresent() override { return false; }
  bool embedTrayPresent() override { return false; }
  host::RegistrationPtr observeNotifierWatcher(std::function<void()>) override { return nullptr; }
};

}  // namespace somnara::sim
