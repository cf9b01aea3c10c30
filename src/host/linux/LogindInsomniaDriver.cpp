#include "host/linux/LogindInsomniaDriver.h"

namespace somnara::linuxhost {
namespace {

const char* const kWhat = "handle-lid-switch";
const char* const kWhy = "Insomnia keeps the machine awake with its lid closed";

}  // namespace

class LogindInsomniaDriver::LogindConnection final : public Connection {
 public:
  explicit LogindConnection(LogindInsomniaDriver& owner) : owner_(owner) {}

  bool callMethod(std::uint32_t selector) override {
    if (selector == kStop) {
      lidSwitch_.reset();
      return owner_.logind_.reachable();
    }
    if (selector != kStart) return false;
    if (!lidSwitch_) lidSwitch_ = owner_.takeLidSwitch();
    return lidSwitch_ != nullptr;
  }

 private:
  LogindInsomniaDriver& owner_;
  std::unique_ptr<LogindInhibitor> lidSwitch_;
};

LogindInsomniaDriver::LogindInsomniaDriver(LogindClient& logind, std::string who)
    : logind_(logind), who_(std::move(who)) {}

std::unique_ptr<LogindInhibitor> LogindInsomniaDriver::takeLidSwitch() {
  auto lock = logind_.inhibit(kWhat, who_, kWhy, "block", &failure_);
  if (lock) failure_.clear();
  return lock;
}

std::optional<std::size_t> LogindInsomniaDriver::matchingServices() {
  if (!logind_.busConnected()) return std::nullopt;
  return logind_.reachable() ? 1 : 0;
}

std::unique_ptr<host::InsomniaDriver::Connection> LogindInsomniaDriver::open(std::size_t index) {
  if (index != 0 || !takeLidSwitch()) return nullptr;
  return std::make_unique<LogindConnection>(*this);
}

}  // namespace somnara::linuxhost
