#pragma once

#include "host/Sounds.h"
#include "host/sim/SimDesktopState.h"
#include "host/sim/SimWorkspace.h"

namespace somnara::sim {

/// One program's sounds on the simulated machine: files the machine holds
/// (SimDesktopState::addSoundFile) and the bundle's resources named
/// "<name>.wav"; plays are recorded with their volume.
class SimSounds : public host::Sounds {
 public:
  SimSounds(SimDesktopState& state, const SimWorkspace& workspace) : state_(state), workspace_(workspace) {}

  std::unique_ptr<Sound> soundFromFile(const std::string& path) override;
  std::unique_ptr<Sound> namedSound(const std::string& name) override;

 private:
  SimDesktopState& state_;
  const SimWorkspace& workspace_;
};

}  // namespace somnara::sim
