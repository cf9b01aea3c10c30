#pragma once

#include "host/InsomniaService.h"
#include "menubar/InhibitorList.h"
#include "menubar/MenuBarAppDelegate.h"

namespace somnara {

/// The agent's Insomnia as it answers the command line: a start takes the
/// length as a preset of the menu does (it becomes the Insomnia length, and
/// a running Insomnia gets its end moved), a stop stops, the state tells
/// on/off, the time left and the locks keeping the machine awake, read at
/// that moment. Offered from construction until destruction; the delegate,
/// the list and the service outlive it.
class InsomniaRemoteControl final : public host::InsomniaService::Handler {
 public:
  InsomniaRemoteControl(MenuBarAppDelegate& delegate, InhibitorList& inhibitors, host::InsomniaService& service,
                        host::RunLoop& loop);
  InsomniaRemoteControl(const InsomniaRemoteControl&) = delete;
  InsomniaRemoteControl& operator=(const InsomniaRemoteControl&) = delete;

  /// Whether the offer stands (another agent may hold it).
  bool published() const { return offer_ != nullptr; }

  void start(double seconds) override;
  void stop() override;
  host::InsomniaState state() override;

 private:
  MenuBarAppDelegate& delegate_;
  InhibitorList& inhibitors_;
  host::RunLoop& loop_;
  host::RegistrationPtr offer_;
};

}  // namespace somnara
