#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/Applications.h"

namespace somnara::sim {

class SimMachine;

/// The simulated file system's application bundles (and plain files), and
/// launching a bundle as a new program on the machine.
class SimApplications : public host::Applications {
 public:
  explicit SimApplications(SimMachine& machine) : machine_(machine) {}

  bool fileExists(const std::string& path) const override;
  std::vector<std::string> contentsOfDirectory(const std::string& path) const override;
  std::optional<BundleInfo> bundleAt(const std::string& path) const override;
  /// Starts a program with the bundle's identifier from that bundle.
  LaunchResult launchApplication(const std::string& bundlePath) override;

  /// Installs a bundle at path; its directory lists it after earlier entries.
  void installBundle(const std::string& path, BundleInfo info);
  /// A file that is no bundle.
  void installFile(const std::string& path);
  void uninstall(const std::string& path);
  /// The next count launches fail.
  void failLaunches(int count) { failures_ = count; }
  int launchCount() const { return launches_; }

 private:
  struct Node {
    std::optional<BundleInfo> bundle;
  };
  SimMachine& machine_;
  std::vector<std::pair<std::string, Node>> nodes_;  // in creation order
  int failures_ = 0;
  int launches_ = 0;
};

}  // namespace somnara::sim
