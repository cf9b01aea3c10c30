// Insomnia's rules in the menu bar agent: the battery floor, the external
// power rules and the lock rule.
#include "menubar/MenuBarAppDelegate.h"
#include "platform/LogLine.h"

namespace somnara {
namespace {

constexpr const char* kFollowRules = "-[MenuBarAppDelegate followInsomniaRules]";

}  // namespace

void MenuBarAppDelegate::followInsomniaRules() {
  if (!hasInsomnia()) return;
  const auto conditions = insomniaRules_.conditions();
  const auto verdict = InsomniaRules::verdict(insomniaRules_.settings(), conditions);
  if (InsomniaRules::stops(verdict)) return stopByInsomniaRule(verdict, conditions);
  const bool pause = verdict == InsomniaRules::Verdict::Pause;
  if (pause != insomniaPaused_) {
    insomniaPaused_ = pause;
    holdAwake(!pause);
    ORV_LOG(context_.logger(), this, kFollowRules,
            pause ? "Insomnia paused: on battery" : "Insomnia resumed: on external power");
  }
  // The title and the tool tip tell the floor or the pause.
  announceInsomniaStringChange();
  updateMenuBarIcon();
}

void MenuBarAppDelegate::stopByInsomniaRule(InsomniaRules::Verdict verdict,
                                            const InsomniaRules::Conditions& conditions) {
  setInsomnia(false);
  if (verdict == InsomniaRules::Verdict::StopWhenLocked) {
    ORV_LOG(context_.logger(), this, kFollowRules, "Insomnia stopped: the session is locked");
    return;
  }
  // The floor stops Insomnia only on a known charge.
  const std::string body = "The battery is at " + std::to_string(*conditions.charge) +
                           " %, at or below the floor of " +
                           std::to_string(insomniaRules_.settings().batteryFloor) + " %.";
  ORV_LOG(context_.logger(), this, kFollowRules, "Insomnia stopped: " + body);
  ports_.notices.post("Insomnia stopped", body);
  if (insomniaSound_) insomniaSound_->play();
}

void MenuBarAppDelegate::externalPowerCame() {
  if (hasInsomnia()) return;
  ORV_LOG(context_.logger(), this, kFollowRules, "Insomnia started: external power came");
  setInsomnia(true);
}

}  // namespace somnara
