#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace somnara::linuxhost {

/// The "[Desktop Entry]" group of a freedesktop.org desktop entry file, as
/// written by any program or by hand: untrusted input. Unknown groups,
/// comments and localised keys are passed over; of a key given twice the
/// first value counts.
class DesktopEntry {
 public:
  /// The entry in text; nullopt when text has no "[Desktop Entry]" group
  /// or holds a NUL byte.
  static std::optional<DesktopEntry> parse(std::string_view text);

  /// The value of key with the string escapes (\s \n \t \r \\) undone;
  /// other backslash sequences are kept as written.
  std::optional<std::string> value(const std::string& key) const;
  /// Whether key holds exactly "true".
  bool isTrue(const std::string& key) const { return value(key) == "true"; }
  bool isFalse(const std::string& key) const { return value(key) == "false"; }

  /// The program an Exec value starts: its first argument with the quoting
  /// undone and "%%" read as "%"; nullopt for an empty value, an unclosed
  /// quote or a field code (%f, %u, …) in the program itself.
  static std::optional<std::string> execProgram(std::string_view exec);

  /// One Exec argument, always quoted, for writing: the reverse of execProgram
  /// followed by escapeString. Control characters cannot be represented:
  /// nullopt for them.
  static std::optional<std::string> execArgument(std::string_view argument);
  /// A string value for writing: backslash, newline, tab and carriage return escaped.
  static std::string escapeString(std::string_view value);

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace somnara::linuxhost
