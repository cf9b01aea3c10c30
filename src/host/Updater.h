#pragma once

namespace somnara::host {

/// Told by the updater before it replaces the installed programs.
class UpdaterDelegate {
 public:
  virtual ~UpdaterDelegate() = default;
  /// Called on the run loop; the update is installed once this returns.
  virtual void updaterWillInstallUpdate() = 0;
};

/// An update framework installed beside the program. Programs reach it only
/// through a pointer that is null where no such framework exists.
class Updater {
 public:
  virtual ~Updater() = default;
  /// Looks for an update and offers it to the user; returns at once.
  virtual void checkForUpdates() = 0;
  /// The delegate is not owned; null withdraws it. It must outlive its setting.
  virtual void setDelegate(UpdaterDelegate* delegate) = 0;
};

}  // namespace somnara::host
