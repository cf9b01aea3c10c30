#pragma once

#include <optional>
#include <string>
#include <vector>

namespace somnara::host {

/// Application bundles on disk and starting them. Single-threaded, on the
/// program's run loop; nothing here blocks for longer than a file read or
/// a process start.
class Applications {
 public:
  /// What an application bundle says about itself; empty strings where its
  /// Info.plist lacks the entry.
  struct BundleInfo {
    std::string identifier;  // CFBundleIdentifier
    std::string name;        // CFBundleName
    std::string shortVersion;  // CFBundleShortVersionString
    std::string version;       // CFBundleVersion: the build
    std::string copyright;     // NSHumanReadableCopyright
  };

  /// The outcome of a launch: the running instance's pid, or why there is none.
  struct LaunchResult {
    std::optional<int> pid;
    std::string error;
  };

  virtual ~Applications() = default;

  /// Whether anything exists at path.
  virtual bool fileExists(const std::string& path) const = 0;

  /// Entry names of a directory in the order the file system lists them;
  /// empty when it cannot be read.
  virtual std::vector<std::string> contentsOfDirectory(const std::string& path) const = 0;

  /// The bundle at path; nullopt when path is no application bundle.
  virtual std::optional<BundleInfo> bundleAt(const std::string& path) const = 0;

  /// Starts the application bundle at path without bringing it to the
  /// front. Does not look for an instance that already runs.
  virtual LaunchResult launchApplication(const std::string& bundlePath) = 0;
};

}  // namespace somnara::host
