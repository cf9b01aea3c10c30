#include "menubar/InsomniaRemoteControl.h"

#include <algorithm>
#include <cmath>

namespace somnara {

InsomniaRemoteControl::InsomniaRemoteControl(MenuBarAppDelegate& delegate, InhibitorList& inhibitors,
                                             host::InsomniaService& service, host::RunLoop& loop)
    : delegate_(delegate), inhibitors_(inhibitors), loop_(loop), offer_(service.publish(*this)) {}

void InsomniaRemoteControl::start(double seconds) {
  // Whole seconds, as the menu's presets; below one second: no end.
  delegate_.takeInsomniaLengthFromSender(seconds >= 1.0 ? std::llround(seconds) : 0);
}

void InsomniaRemoteControl::stop() { delegate_.setInsomnia(false); }

host::InsomniaState InsomniaRemoteControl::state() {
  host::InsomniaState state;
  state.on = delegate_.hasInsomnia();
  if (const auto end = delegate_.insomniaEndDate(); state.on && end) state.secondsLeft = std::max(0.0, *end - loop_.now());
  inhibitors_.refresh();
  state.inhibitors = inhibitors_.inhibitors();
  return state;
}

}  // namespace somnara
