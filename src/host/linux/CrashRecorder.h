#pragma once

#include <string>

namespace somnara::linuxhost {

/// Leaves a record when the program dies of a fatal signal (SIGSEGV,
/// SIGBUS, SIGILL, SIGFPE, SIGABRT): one line naming the program, its pid and
/// the signal, written to reportPath (mode 0600) from the signal handler,
/// after which the signal takes its default course (core dump, status).
/// One instance per process; the previous dispositions come back when it is
/// destroyed.
class CrashRecorder {
 public:
  CrashRecorder(const std::string& reportPath, const std::string& programName);
  ~CrashRecorder();
  CrashRecorder(const CrashRecorder&) = delete;
  CrashRecorder& operator=(const CrashRecorder&) = delete;


  /// `${XDG_STATE_HOME:-$HOME/.local/state}/somnara/<programName>.crash`.
  static std::string defaultReportPath(const std::string& programName);

 private:
  bool installed_ = false;
};

}  // namespace somnara::linuxhost
