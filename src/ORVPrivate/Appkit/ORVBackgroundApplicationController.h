#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/KeyValueObservable.h"
#include "host/Applications.h"
#include "host/HostContext.h"
#include "host/LoginItems.h"

namespace somnara {

/// One background program carried inside the running program's bundle:
/// where it lies, whether it runs, and whether it is one of the user's
/// login items. "launch" and "loginitem" hold no state: every read asks the
/// machine afresh. setLoginitem announces will/did-change notices of
/// "loginitem"; starting a program that did not run, or stopping running
/// instances, announces them of "launch" (for the window bound to them).
///
/// With launchandterminateonloginitemstate set (the state after creation)
/// the program's running state follows its login item: adding the item
/// starts it, removing it stops it, and reading "loginitem" starts it when
/// the item exists. When the owning program ends, or the controller is
/// destroyed, the background program is stopped unless it is a login item.
///
/// Single-threaded, on the owner's run loop. Every operation blocks: a
/// failing launch up to 10 × 0.5 s, a stubborn program about 0.75 s per
/// instance. Failures are logged, never raised.
class ORVBackgroundApplicationController final : public KeyValueObservable {
 public:
  /// Finds the background program named name (a bundle identifier, bundle
  /// name or file name) in the main bundle; null, after one log line, when
  /// nothing exists there. Does not start the program. The ports outlive
  /// the controller.
  static std::unique_ptr<ORVBackgroundApplicationController> initWithName(host::HostContext& context,
                                                                          host::Applications& applications,
                                                                          host::LoginItems& loginItems,
                                                                          const std::string& name);
  /// Stops observing, then terminateIfNotLoginItem.
  ~ORVBackgroundApplicationController() override;
  ORVBackgroundApplicationController(const ORVBackgroundApplicationController&) = delete;
  ORVBackgroundApplicationController& operator=(const ORVBackgroundApplicationController&) = delete;

  void applicationWillTerminate() { terminateIfNotLoginItem(); }

  /// Adds (once) or removes (every matching item) the login item.
  void setLoginitem(bool loginitem);
  /// Whether an enabled login item starts backgroundApplicationURL.
  bool isLoginitem();
  /// true starts the program and asks every other instance to quit; false is terminate.
  void setLaunch(bool launch);
  bool isLaunched() { return backgroundApplicationProcessIdentifier() >= 0; }
  /// Pid of a live instance started from backgroundApplicationURL; -1 for none.
  int backgroundApplicationProcessIdentifier();
  /// Stops every live instance with the program's bundle identifier,
  /// wherever it was started from.
  void terminate();
  void terminateIfNotLoginItem();

  /// Path of the program's bundle; fixed at creation.
  const std::string& backgroundApplicationURL() const { return url_; }
  /// The bundle's identifier; "" when its Info.plist names none.
  const std::string& bundleIdentifier() const { return info_.identifier; }
  /// The login item's display name: the bundle's CFBundleName.
  const std::string& loginItemName() const { return info_.name; }
  bool launchandterminateonloginitemstate() const { return followLoginItem_; }
  void setLaunchandterminateonloginitemstate(bool value) { followLoginItem_ = value; }

  /// The reason the last setLoginitem or setLaunch did not get its way (as
  /// logged); "" when it did.
  const std::string& lastFailure() const { return lastFailure_; }

 private:
  ORVBackgroundApplicationController(host::HostContext& context, host::Applications& applications,
                                     host::LoginItems& loginItems, std::string url, host::Applications::BundleInfo info);
  static std::string findPath(host::HostContext& context, host::Applications& applications, const std::string& name);
  std::optional<int> launchOnce(std::string& error);
  void fail(int line, const char* method, const std::string& message);

  host::HostContext& context_;
  host::Applications& applications_;
  host::LoginItems& loginItems_;
  std::string url_;
  host::Applications::BundleInfo info_;
  bool followLoginItem_ = true;
  std::string lastFailure_;
  host::RegistrationPtr willTerminate_;
};

}  // namespace somnara
