#pragma once

#include <functional>
#include <optional>
#include <string>

#include "host/Registration.h"
#include "plist/Value.h"

namespace somnara::host {

/// The program's bundle and the session's workspace events.
class Workspace {
 public:
  enum class Event {
    WillSleep,               // the machine is about to sleep
    DidWake,                 // the machine woke
    SessionDidBecomeActive,  // the user's session became the active one
    SessionDidResignActive,  // another session took over, or the screen was locked away
    WillTerminate,           // this program is about to end normally
  };

  virtual ~Workspace() = default;

  virtual std::string mainBundleIdentifier() const = 0;
  virtual std::string mainBundlePath() const = 0;

  /// Path of a named file in the main bundle's resources; nullopt when absent.
  virtual std::optional<std::string> pathForResource(const std::string& name) const = 0;

  /// The dictionary held by the named property-list file of the main
  /// bundle's resources; nullopt when the file is absent, unreadable or not
  /// a property list holding a dictionary.
  virtual std::optional<Dictionary> propertyListResource(const std::string& name) const = 0;

  virtual RegistrationPtr observe(Event event, std::function<void()> onEvent) = 0;

  /// Sounds the system alert.
  virtual void beep() = 0;

  /// Asks the application bundle at applicationPath to open the file at
  /// path, starting it for that. Returns false when the bundle has no
  /// program that can be started; what the application then does with the
  /// file is not waited for.
  virtual bool openFile(const std::string& path, const std::string& applicationPath) = 0;
};

}  // namespace somnara::host
