#pragma once

#include <cstddef>
#include <string>

namespace somnara::linuxhost {

/// A program's own log file, ${XDG_STATE_HOME:-~/.local/state}/somnara/<program>.log:
/// lines are appended; a line that would take the file past maxBytes first
/// moves it to "<path>.1" (replacing the older one), so at most about
/// 2 × maxBytes are kept. A file that cannot be written is reported once on
/// stderr and then left alone.
class LogFile {
 public:
  static constexpr std::size_t kDefaultMaxBytes = 1 << 20;

  explicit LogFile(std::string path, std::size_t maxBytes = kDefaultMaxBytes);

  /// The log file of the program whose settings domain is program.
  static std::string defaultPath(const std::string& program);

  const std::string& path() const { return path_; }
  void append(const std::string& line);

 private:
  std::string path_;
  std::size_t maxBytes_;
  bool reportedFailure_ = false;
};

}  // namespace somnara::linuxhost
