#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

bool SimDesktopState::requestIdleSleep() {
  if (vetoes_ > 0) return false;
  sleeps_.push_back(clock_.now());
  return true;
}

void SimDesktopState::setDriverRefusesOpen(std::size_t index, bool refuses) {
  if (refuses)
    refusing_.insert(index);
  else
    refusing_.erase(index);
}

void SimDesktopState::connectionClosed() {
  --connections_;
  // Closing a connection ends what it started.
  if (connections_ == 0 && holds_ > 0) {
    holds_ = 0;
    lidSwitchCheck();
  }
}

void SimDesktopState::lidSwitchCheck() {
  const bool closed = lid_.value_or(false);
  if (closed && holds_ == 0) lidSwitchSleeps_.push_back(clock_.now());
}

bool SimDesktopState::callDriver(std::uint32_t selector) {
  driverCalls_.push_back(selector);
  if (!driverServices_ || *driverServices_ == 0) return false;
  if (selector == host::InsomniaDriver::kStart) holds_ = 1;
  if (selector == host::InsomniaDriver::kStop && holds_ > 0) {
    holds_ = 0;
    lidSwitchCheck();
  }
  return true;
}

bool SimDesktopState::showNotice(Notice notice) {
  if (!notificationServer_) return false;
  notices_.push_back(std::move(notice));
  return true;
}

void SimDesktopState::setLid(std::optional<bool> closed) {
  const bool wasClosed = lid_.value_or(false);
  lid_ = closed;
  if (!wasClosed) lidSwitchCheck();
  rootDomainObservers_.forEach([](const auto&) { return true; }, [](const std::function<void()>& fn) { fn(); });
}

int SimDesktopState::takeInhibitor(host::Inhibitor inhibitor) {
  const int id = nextInhibitor_++;
  inhibitors_.emplace_back(id, std::move(inhibitor));
  inhibitorObservers_.forEach([](const auto&) { return true; }, [](const std::function<void()>& fn) { fn(); });
  return id;
}

void SimDesktopState::dropInhibitor(int id) {
  std::erase_if(inhibitors_, [id](const auto& held) { return held.first == id; });
  inhibitorObservers_.forEach([](const auto&) { return true; }, [](const std::function<void()>& fn) { fn(); });
}

std::vector<host::Inhibitor> SimDesktopState::listInhibitors() {
  ++inhibitorQueries_;
  std::vector<host::Inhibitor> out;
  for (const auto& [id, inhibitor] : inhibitors_) out.push_back(inhibitor);
  return out;
}

namespace {

class OfferTicket : public host::Registration {
 public:
  explicit OfferTicket(host::InsomniaService::Handler*& slot) : slot_(slot) {}
  ~OfferTicket() override { slot_ = nullptr; }

 private:
  host::InsomniaService::Handler*& slot_;
};

}  // namespace

host::RegistrationPtr SimDesktopState::publishInsomnia(host::InsomniaService::Handler& handler) {
  if (insomniaHandler_) return nullptr;
  insomniaHandler_ = &handler;
  return std::make_unique<OfferTicket>(insomniaHandler_);
}

void SimDesktopState::setMainDisplayAsleep(bool asleep) {
  displayAsleep_ = asleep;
  displayObservers_.forEach([](const auto&) { return true; },
                            [asleep](const std::function<void(bool)>& fn) { fn(asleep); });
}

void SimDesktopState::setScreenSaverActive(bool active) {
  screenSaver_ = active;
  screenSaverObservers_.forEach([](const auto&) { return true; },
                                [active](const std::function<void(bool)>& fn) { fn(active); });
}

void SimDesktopState::setSessionLocked(std::optional<bool> locked) {
  sessionLocked_ = locked;
  if (!locked) return;
  sessionLockObservers_.forEach([](const auto&) { return true; },
                                [value = *locked](const std::function<void(bool)>& fn) { fn(value); });
}

}  // namespace somnara::sim
