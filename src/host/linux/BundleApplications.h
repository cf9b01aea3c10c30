#pragma once

#include "host/Applications.h"

namespace somnara::linuxhost {

/// Application bundles on the local file system (see BundleLocator); a
/// bundle is started by running its CFBundleExecutable, detached from us.
class BundleApplications final : public host::Applications {
 public:
  bool fileExists(const std::string& path) const override;
  /// readdir order, "." and ".." left out.
  std::vector<std::string> contentsOfDirectory(const std::string& path) const override;
  std::optional<BundleInfo> bundleAt(const std::string& path) const override;
  LaunchResult launchApplication(const std::string& bundlePath) override;
};

}  // namespace somnara::linuxhost
