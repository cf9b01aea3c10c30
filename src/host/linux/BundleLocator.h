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

  /// CFBundleName of the bundle at bundlePath; "" when missing.
  static std::string nameOfBundle(const std::string& bundlePath);

  /// Whether bundlePath is a directory holding a readable property list at
  /// Contents/Info.plist.
  static bool isBundle(const std::string& bundlePath);
  /// CFBundleIdentifier in the bytes of an Info.plist; "" when they are not
  /// a property list or it has no string identifier.
  static std::string identifierInInfoPlist(std::string_view bytes);

  /// The program file of the bundle at bundlePath: Contents/MacOS/ followed by
  /// the Info.plist's CFBundleExecutable (a plain file name); nullopt when
  /// that is missing or not a plain name.
  static std::optional<std::string> executableOfBundle(const std::string& bundlePath);

  /// A string entry of the bundle's Info.plist; nullopt when missing or no string.
  static std::optional<std::string> infoString(const std::string& bundlePath, const char* key);
 private:
  static std::optional<std::string> infoStringInPlist(std::string_view bytes, const char* key);
};

}  // namespace somnara::linuxhost
