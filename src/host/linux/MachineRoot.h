#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace somnara::linuxhost {

/// The directory that stands for "/" when machine files are read: the
/// environment's SOMNARA_ROOT (default "/"), so tests can run against a fake
/// machine. Only the host layer consults it, once, at start.
class MachineRoot {
 public:
  explicit MachineRoot(std::string root = "/");

  /// SOMNARA_ROOT of the environment; ignored (root "/") when the program
  /// runs set-user-id or set-group-id.
  static MachineRoot fromEnvironment();

  const std::string& root() const { return root_; }

  /// The real path of an absolute machine path such as "/sys/power/state".
  std::string path(std::string_view machinePath) const;

  /// Contents of a machine file, at most maxBytes; nullopt when unreadable.
  std::optional<std::string> read(std::string_view machinePath, std::size_t maxBytes = 1 << 20) const;

  /// Whether the machine path names anything (a link counts, even a
  /// dangling one), and whether it is a directory.
  bool exists(std::string_view machinePath) const;
  bool isDirectory(std::string_view machinePath) const;

  /// Contents of any file by its real path; a file longer than maxBytes is an error.
  static std::optional<std::string> readFile(const std::string& realPath, std::size_t maxBytes = 1 << 20,
                                             std::string* error = nullptr);

  /// A one-value text file by its real path (a sysfs attribute, the
  /// hibernate-mode file): its contents without surrounding whitespace;
  /// nullopt when unreadable or longer than 4096 bytes.
  static std::optional<std::string> readValue(const std::string& realPath);

 private:
  std::string root_;  // no trailing slash; "" stands for "/"
};

}  // namespace somnara::linuxhost
