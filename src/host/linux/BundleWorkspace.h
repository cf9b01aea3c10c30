#pragma once

#include <memory>
#include <string>

#include "host/Logger.h"
#include "host/Workspace.h"
#include "host/linux/LogindClient.h"

namespace somnara::linuxhost {

/// The program's bundle, found from its executable path, and the session's
/// events from logind (through the program's LogindClient):
///   WillSleep / DidWake            Manager.PrepareForSleep(true / false); while
///                                  someone observes them a "sleep" delay
///                                  inhibitor is held, released once the
///                                  WillSleep observers have returned and taken
///                                  again after wake
///   SessionDidBecomeActive /       changes of the session's Active property
///   SessionDidResignActive         (session XDG_SESSION_ID, else the one of our pid)
///   WillTerminate                  fired by the application through fire()
/// logind is contacted on the first observation that needs it; when the bus
/// or logind is missing one line is logged and those events never come.
class BundleWorkspace final : public host::Workspace {
 public:
  /// executablePath: the running program's file. logind: outlives the
  /// workspace. sessionId: logind session id ("" to look the session up by
  /// pid). pid: the program's process id.
  BundleWorkspace(std::string executablePath, LogindClient& logind, host::Logger& logger, std::string sessionId,
                  unsigned pid);
  ~BundleWorkspace() override;
  BundleWorkspace(const BundleWorkspace&) = delete;
  BundleWorkspace& operator=(const BundleWorkspace&) = delete;

  /// CFBundleIdentifier of the bundle holding the executable; "" outside a bundle.
  std::string mainBundleIdentifier() const override;
  /// The `.app` directory; the executable's directory outside a bundle.
  std::string mainBundlePath() const override;
  std::optional<std::string> pathForResource(const std::string& name) const override;
  /// Read with a size limit and parsed as XML or binary property list.
  std::optional<Dictionary> propertyListResource(const std::string& name) const override;
  host::RegistrationPtr observe(Event event, std::function<void()> onEvent) override;

  /// The terminal bell on stderr when that is a terminal; nothing otherwise
  /// (a faceless program has no other alert to sound).
  void beep() override;

  /// Starts the bundle's program (its Info.plist's CFBundleExecutable) with
  /// path as its one argument, detached from this program.
  bool openFile(const std::string& path, const std::string& applicationPath) override;

  /// Runs the observers of event now, in registration order.
  void fire(Event event);

  /// Whether the sleep delay inhibitor is currently held.
  bool holdsSleepDelay() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace somnara::linuxhost
