#pragma once

#include <string>
#include <vector>

#include "host/HostContext.h"

namespace somnara {

/// Start-up duties of every program, run once before its event loop: the
/// newest instance of a program wins, and a program whose bundle is changed
/// on disk ends itself so an installer replacing it is not confused.
class ORVApplicationStartupHelper {
 public:
  ORVApplicationStartupHelper() = delete;

  /// killAllOtherInstancesOfMyself, then startCheckingForBundlePathBeeingChanged.
  static void standardApplicationStartup(host::HostContext& context);

  /// Ends every other running instance of this program: a polite request,
  /// repeated every 50 ms for up to 0.7 s, then forced, then signal 9.
  /// Blocks the caller meanwhile.
  static void killAllOtherInstancesOfMyself(host::HostContext& context);

  /// Watches the main bundle; changes other than to its "Resources"
  /// directory or its "pmsethelper" end the process with status 1. Nothing
  /// is watched for a program outside a bundle.
  static void startCheckingForBundlePathBeeingChanged(host::HostContext& context);

  /// The watch callback for one batch of changed paths.
  static void bundleChanged(host::HostContext& context, const std::vector<std::string>& paths);
};

}  // namespace somnara
