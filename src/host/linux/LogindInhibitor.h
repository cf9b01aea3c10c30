#pragma once

#include <string>

namespace somnara::linuxhost {

/// One lock granted by logind's Inhibit call, held through its file
/// descriptor: logind drops the lock when the descriptor closes, here on
/// destruction, or when the process ends however it ends.
class LogindInhibitor {
 public:
  /// Takes ownership of fd (a descriptor of this process, >= 0).
  LogindInhibitor(int fd, std::string what, std::string mode);
  ~LogindInhibitor();
  LogindInhibitor(const LogindInhibitor&) = delete;
  LogindInhibitor& operator=(const LogindInhibitor&) = delete;

  /// What the lock covers ("idle", "sleep", "handle-lid-switch", …) and its
  /// mode ("block" or "delay").
  const std::string& what() const { return what_; }
  const std::string& mode() const { return mode_; }

 private:
  int fd_;
  std::string what_, mode_;
};

}  // namespace somnara::linuxhost
