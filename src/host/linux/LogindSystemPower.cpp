#include "host/linux/LogindSystemPower.h"

namespace somnara::linuxhost {
namespace {

const char* const kWhy = "Insomnia keeps the machine awake";

}  // namespace

class LogindSystemPower::LogindRegistration final : public Registration {
 public:
  LogindRegistration(LogindSystemPower& owner) : owner_(owner) {}

  void setIdleSleepVetoed(bool vetoed) override {
    vetoed_ = vetoed;
    if (!vetoed) {
      idle_.reset();
      session_.reset();
      return;
    }
    if (!idle_) {
      std::string error;
      idle_ = owner_.logind_.inhibit("idle", owner_.who_, kWhy, "block", &error);
      if (!idle_ && !reportedRefusal_) {
        reportedRefusal_ = true;
        owner_.logger_.log("logind refused the idle inhibitor: " + error);
      }
    }
    if (!session_) session_ = std::make_unique<SessionSuspendInhibitor>(owner_.sessionBus_, owner_.who_, kWhy);
  }

  bool idleSleepVetoed() const override { return vetoed_; }

 private:
  LogindSystemPower& owner_;
  bool vetoed_ = false, reportedRefusal_ = false;
  std::unique_ptr<LogindInhibitor> idle_;
  std::unique_ptr<SessionSuspendInhibitor> session_;
};

LogindSystemPower::LogindSystemPower(LogindClient& logind, QDBusConnection sessionBus, host::RunLoop& loop,
                                     host::Logger& logger, std::string who, std::chrono::milliseconds idleHold)
    : logind_(logind),
      sessionBus_(sessionBus),
      loop_(loop),
      logger_(logger),
      who_(std::move(who)),
      idleHold_(idleHold),
      screenSaver_(sessionBus) {}

LogindSystemPower::~LogindSystemPower() { loop_.cancel(idleActivityEnd_); }

std::unique_ptr<host::SystemPower::Registration> LogindSystemPower::registerForSystemPower() {
  if (!logind_.reachable()) return nullptr;
  return std::make_unique<LogindRegistration>(*this);
}

void LogindSystemPower::reportActivity(Activity activity) {
  if (activity == Activity::Overall) {
    screenSaver_.simulateUserActivity();
    return;
  }
  if (!idleActivity_) idleActivity_ = std::make_unique<SessionSuspendInhibitor>(sessionBus_, who_, kWhy);
  loop_.cancel(idleActivityEnd_);
  idleActivityEnd_ = loop_.schedule(idleHold_, false, [this] {
    idleActivityEnd_ = 0;
    idleActivity_.reset();
  });
}

}  // namespace somnara::linuxhost
