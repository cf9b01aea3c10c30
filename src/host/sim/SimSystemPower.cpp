#include "host/sim/SimSystemPower.h"

namespace somnara::sim {
namespace {

class SimRegistration : public host::SystemPower::Registration {
 public:
  SimRegistration(SimDesktopState& state, host::Inhibitor lock) : state_(state), lock_(std::move(lock)) {}
  ~SimRegistration() override { setIdleSleepVetoed(false); }
  void setIdleSleepVetoed(bool vetoed) override {
    if (vetoed == vetoed_) return;
    vetoed_ = vetoed;
    state_.addVeto(vetoed ? 1 : -1);
    if (vetoed)
      held_ = state_.takeInhibitor(lock_);
    else
      state_.dropInhibitor(held_);
  }
  bool idleSleepVetoed() const override { return vetoed_; }

 private:
  SimDesktopState& state_;
  host::Inhibitor lock_;
  int held_ = 0;
  bool vetoed_ = false;
};

}  // namespace

std::unique_ptr<host::SystemPower::Registration> SimSystemPower::registerForSystemPower() {
  if (!state_.powerManagementReachable()) return nullptr;
  host::Inhibitor lock;
  lock.who = who_;
  lock.why = "Insomnia keeps the machine awake";
  lock.what = "idle";
  lock.mode = "block";
  lock.pid = static_cast<std::uint32_t>(pid_);
  lock.uid = 1000;
  return std::make_unique<SimRegistration>(state_, std::move(lock));
}

}  // namespace somnara::sim
