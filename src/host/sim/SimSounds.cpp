#include "host/sim/SimSounds.h"

#include <algorithm>

namespace somnara::sim {
namespace {

class SimSound : public host::Sounds::Sound {
 public:
  SimSound(SimDesktopState& state, std::string name) : state_(state), name_(std::move(name)) {}
  void play() override { state_.recordPlay({name_, volume_}); }
  void setVolume(float volume) override { volume_ = std::clamp(volume, 0.0f, 1.0f); }
  float volume() const override { return volume_; }

 private:
  SimDesktopState& state_;
  std::string name_;
  float volume_ = 1.0f;
};

}  // namespace

std::unique_ptr<host::Sounds::Sound> SimSounds::soundFromFile(const std::string& path) {
  if (!state_.hasSoundFile(path)) return nullptr;
  return std::make_unique<SimSound>(state_, path);
}

std::unique_ptr<host::Sounds::Sound> SimSounds::namedSound(const std::string& name) {
  const auto path = workspace_.pathForResource(name + ".wav");
  if (!path) return nullptr;
  return std::make_unique<SimSound>(state_, name);
}

}  // namespace somnara::sim
