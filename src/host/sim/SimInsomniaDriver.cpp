#include "host/sim/SimInsomniaDriver.h"

namespace somnara::sim {
namespace {

class SimConnection : public host::InsomniaDriver::Connection {
 public:
  explicit SimConnection(SimDesktopState& state) : state_(state) { state_.connectionOpened(); }
  ~SimConnection() override { state_.connectionClosed(); }
  bool callMethod(std::uint32_t selector) override { return state_.callDriver(selector); }

 private:
  SimDesktopState& state_;
};

}  // namespace

std::unique_ptr<host::InsomniaDriver::Connection> SimInsomniaDriver::open(std::size_t index) {
  const auto services = state_.driverServices();
  if (!services || index >= *services || state_.driverRefusesOpen(index)) return nullptr;
  return std::make_unique<SimConnection>(state_);
}

}  // namespace somnara::sim
