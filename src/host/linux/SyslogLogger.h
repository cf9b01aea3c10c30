#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "host/Logger.h"
#include "host/linux/LogFile.h"

namespace somnara::linuxhost {

/// Log lines to syslog (the journal), stderr and, once set, the program's
/// log file; diagnostics to stderr only, each distinct line at most once in
/// ten minutes (a reading that keeps failing would otherwise say so on
/// every poll).
class SyslogLogger final : public host::Logger {
 public:
  static constexpr std::chrono::minutes kRepeatDiagnosticAfter{10};

  /// The syslog identifier is programName with each blank made a "-": the
  /// journal takes an identifier only up to the first blank, and would show
  /// the name and pid twice otherwise.
  explicit SyslogLogger(std::string programName);
  ~SyslogLogger() override;
  SyslogLogger(const SyslogLogger&) = delete;
  SyslogLogger& operator=(const SyslogLogger&) = delete;

  /// Appends every later log line to file too.
  void setLogFile(std::unique_ptr<LogFile> file) { file_ = std::move(file); }

  void log(const std::string& line) override;
  void diagnostic(const std::string& line) override;

 private:
  std::string ident_;  // syslog keeps a pointer to it until closelog
  std::unique_ptr<LogFile> file_;
  // Diagnostic line → when it was last written; at most kRememberedDiagnostics.
  std::map<std::string, std::chrono::steady_clock::time_point> diagnostics_;
  static constexpr std::size_t kRememberedDiagnostics = 64;
};

}  // namespace somnara::linuxhost
