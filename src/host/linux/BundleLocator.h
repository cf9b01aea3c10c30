#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace somnara::linuxhost {

/// Finds the application bundle around an executable. An executable belongs
/// to a bundle when it lies at `<something>.app/Contents/MacOS/<name>`; the
/// bundle's identifier is CFBundleIdentifier of `<something>.app/Contents/Info.plist`.
class BundleLocator {
 public:
  /// The `.app` directory holding executable, or nullopt when it is not
  /// inside a bundle. The path is taken as given (no symlink resolution).
  static std::optional<std::string> bundlePathForExecutable(const std::string& executable);

  /// CFBundleIdentifier of the bundle at bundlePath; "" when the Info.plist
  /// is missing, unreadable or has no string identifier.
  static std::string identifierOfBundle(const std::string& bundlePath);

  /// CFBundleIdentifier in the bytes of an Info.plist; "" when they are not
  /// a property list or it has no string identifier.
  static std::string identifierInInfoPlist(std::string_view bytes);
};

}  // namespace somnara::linuxhost
