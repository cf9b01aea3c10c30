#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace somnara::linuxhost {

/// A program's own log file, ${XDG_STATE_HOME:-~/.local/state}/somnara/<program>.log:
/// lines are appended, each after the local time it was written at and a
/// blank ("2026-12-07 20:14:03.512 <line>"); a line that would take the file past maxBytes first
/// moves it to "<path>.1" (replacing the older one), so at most about
/// 2 × maxBytes are kept. A file that cannot be written is reported once on
/// stderr and then left alone.
class LogFile {
 public:
  static constexpr std::size_t kDefaultMaxBytes = 1 << 20;

  explicit LogFile(std::string path, std::size_t maxBytes = kDefaultMaxBytes);

  /// The log file of the program whose settings domain is program.
  static std::string defaultPath(const std::string& program);

  /// t in the local time zone as "YYYY-MM-DD HH:MM:SS.mmm" (milliseconds
  /// truncated), the stamp that starts each line.
  static std::string timeStamp(std::chrono::system_clock::time_point t);

  const std::string& path() const { return path_; }
  /// Appends line after the time stamp of now.
  void append(const std::string& line);

 private:
  std::string path_;
  std::size_t maxBytes_;
  bool reportedFailure_ = false;
};

}  // namespace somnara::linuxhost
