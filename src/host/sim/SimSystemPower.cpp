#include "host/sim/SimSystemPower.h"

namespace somnara::sim {
namespace {

class SimRegistration : public host::SystemPower::Registration {
 public:
  explicit SimRegistration(SimDesktopState& state) : state_(state) {}
  ~SimRegistration() override { setIdleSleepVetoed(false); }
  void setIdleSleepVetoed(bool vetoed) override {
    if (vetoed == vetoed_) return;
    vetoed_ = vetoed;
    state_.addVeto(vetoed ? 1 : -1);
  }
  bool idleSleepVetoed() const override { return vetoed_; }

 private:
  SimDesktopState& state_;
  bool vetoed_ = false;
};

}  // namespace

std::unique_ptr<host::SystemPower::Registration> SimSystemPower::registerForSystemPower() {
  if (!state_.powerManagementReachable()) return nullptr;
  return std::make_unique<SimRegistration>(state_);
}

}  // namespace somnara::sim
