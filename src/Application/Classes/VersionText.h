#pragma once

#include <cstddef>
#include <string>

namespace somnara {

/// The version text of the preferences window and how it is styled:
///   "\n" "Version <short version>\n" "(<build>)\n" "\n\n\n" "©<notice>\n"
/// all in a grey readable on the window (see ReadableColor) at 11 points,
/// the version line at 14 points, the notice line a link to the product's
/// web page. Ranges count UTF-8 bytes of text.
struct VersionText {
  struct Range {
    std::size_t location = 0;
    std::size_t length = 0;
    bool operator==(const Range&) const = default;
  };

  static constexpr const char* kFontFamily = "Lucida Grande";  // the system UI font where missing
  static constexpr double kBodyPoints = 11.0;
  static constexpr double kVersionPoints = 14.0;
  static constexpr const char* kWebPage = "https://www.orvane.de/somnara/";

  std::string text;
  Range versionLine;  // with its line break
  Range noticeLine;   // with its line break

  /// From the bundle's CFBundleShortVersionString, CFBundleVersion and
  /// NSHumanReadableCopyright.
  static VersionText make(const std::string& shortVersion, const std::string& build, const std::string& notice);
};

}  // namespace somnara
