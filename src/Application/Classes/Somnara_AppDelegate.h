#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Application/Classes/ApplicationInterface.h"
#include "ORVPrivate/Appkit/ORVBackgroundApplicationController.h"
#include "host/ApplicationDelegate.h"
#include "host/HostContext.h"
#include "host/PreferencesPorts.h"

namespace somnara {

/// The preferences program's delegate: start-up (the daemon is restarted
/// from this program's own bundle on every start; the very first start makes
/// both background programs login items), the two background programs'
/// controllers, the update command, help, release history, log, the version
/// text and the notice where the agent's icon cannot show. Holds no settings
/// logic: the window binds to the shared controller and settings itself. Runs on the run loop's thread;
/// stopping and starting background programs blocks it (see the controller).
class Somnara_AppDelegate final : public host::ApplicationDelegate, public host::UpdaterDelegate {
 public:
  static constexpr const char* kCheckForUpdatesTitle = "Check for Updates...";
  /// Written to the program's settings domain on its very first start, so
  /// that later starts find the domain.
  static constexpr const char* kFirstStartDoneKey = "firststartdone";
  static constexpr const char* kNoStatusAreaNotice =
      "The tray icon needs a tray extension on this desktop: on GNOME, install \"AppIndicator and "
      "KStatusNotifierItem Support\" (package gnome-shell-extension-appindicator), enable it in Extensions "
      "and log in again.";

  Somnara_AppDelegate(host::HostContext& context, host::PreferencesPorts ports, ApplicationInterface& interface);
  ~Somnara_AppDelegate() override;

  /// Crash check, the two controllers and the version text. Once the
  /// window has been drawn: the daemon stopped wherever it runs and started
  /// afresh from this bundle; on the very first start (no settings domain
  /// yet) both programs made login items, which starts the agent, and the
  /// window says so; then the look for a status area.
  void awakeFromNib() override;
  /// Puts the update command in the application menu when an updater exists.
  void applicationDidFinishLaunching() override;
  /// Brings the settings window forward and looks for a status area again
  /// once it has been drawn.
  void applicationWillBecomeActive();
  /// Stops both background programs, login items included.
  void updaterWillInstallUpdate() override;
  /// Brings the settings window forward; the file is not read. Always true.
  bool openFile(const std::string& path);

  /// Open the bundle's pages with the desktop's default program; a missing
  /// page does nothing; where no program opens it, a message tells its path.
  void showHelp() { openResource("Readme.html", "Readme"); }
  void showReleaseHistory() { openResource("ReleaseHistory.html", "Release History"); }
  /// Opens the log file; when there is none, a log line and a beep; where
  /// no program opens it, a log line and a message with its path.
  void showLog();

  std::string bundleIdentifier() const { return context_.workspace().mainBundleIdentifier(); }
  void updateVersionTextField();

  ORVBackgroundApplicationController* menuBarController() const { return menuBarController_.get(); }
  ORVBackgroundApplicationController* daemonController() const { return daemonController_.get(); }

 private:
  /// interface_.afterWindowShown, for as long as this delegate lives.
  void afterWindowShown(std::function<void()> fn);
  void startBothAtEveryLogin();
  void lookForStatusAreaOnceShown();
  void openResource(const std::string& name, const std::string& title);
  void showWhereFileIs(const std::string& title, const std::string& path);

  host::HostContext& context_;
  host::PreferencesPorts ports_;
  ApplicationInterface& interface_;
  std::unique_ptr<ORVBackgroundApplicationController> menuBarController_;
  std::unique_ptr<ORVBackgroundApplicationController> daemonController_;
  bool statusAreaLookPending_ = false;
  // Work left for after the window shows runs only while this lives.
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

}  // namespace somnara
