#pragma once

#include <functional>
#include <vector>

#include "host/HostContext.h"
#include "host/SessionLock.h"
#include "menubar/InsomniaRules.h"

namespace somnara {

/// The inputs of Insomnia's rules for the agent: their settings (observed
/// from start(), so a change takes effect at once), the power sources and
/// the session's lock, each read afresh when asked. It watches the power
/// sources and the lock only while the rules need them (see
/// InsomniaRules::watchesPowerSources and watchesSessionLock): with Insomnia
/// off and no start rule, nothing of it wakes the agent. Everything on the
/// run loop; the context and the lock port must outlive the watch.
class InsomniaRuleWatch {
 public:
  struct Events {
    /// A setting, the power sources or the lock changed while Insomnia is on.
    std::function<void()> changed;
    /// External power came while the start rule is on (Insomnia on or off).
    std::function<void()> externalPowerCame;
  };

  InsomniaRuleWatch(host::HostContext& context, host::SessionLock& sessionLock, Events events);
  ~InsomniaRuleWatch();
  InsomniaRuleWatch(const InsomniaRuleWatch&) = delete;
  InsomniaRuleWatch& operator=(const InsomniaRuleWatch&) = delete;

  /// Reads the settings and observes them from now on.
  void start();
  /// Whether Insomnia is on; what is watched follows.
  void setInsomniaOn(bool on);

  const InsomniaRules::Settings& settings() const { return settings_; }
  /// The power sources now; the lock only while the lock rule is on.
  InsomniaRules::Conditions conditions() const;
  /// The power sources now, without asking for the lock.
  InsomniaRules::Conditions powerConditions() const;

  bool watchingPowerSources() const { return powerWatch_ != nullptr; }
  bool watchingSessionLock() const { return lockWatch_ != nullptr; }

 private:
  void readSettings();
  void updateWatches();
  void powerSourcesChanged();

  host::HostContext& context_;
  host::SessionLock& sessionLock_;
  Events events_;
  InsomniaRules::Settings settings_;
  bool insomniaOn_ = false;
  /// The conditions when the power sources were last looked at, for the start rule.
  InsomniaRules::Conditions lastSeen_;
  std::vector<host::RegistrationPtr> settingsWatches_;
  host::RegistrationPtr powerWatch_;
  host::RegistrationPtr lockWatch_;
  host::RunLoop::TimerId lockLook_ = 0;
};

}  // namespace somnara
