#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "host/Logger.h"
#include "host/linux/LogFile.h"
#include "platform/LineRepeatLimit.h"

namespace somnara::linuxhost {

/// Log lines to syslog (the journal, priority notice), stderr and, once set,
/// the program's log file. Diagnostics to syslog (priority info) and the log
/// file only, never to the terminal, each distinct line at most once a
/// minute (a reading that keeps failing would otherwise say so on every poll).
class SyslogLogger final : public host::Logger {
 public:
  static constexpr std::chrono::minutes kRepeatDiagnosticAfter{1};

  /// The syslog identifier is programName with each blank made a "-": the
  /// journal takes an identifier only up to the first blank, and would show
  /// the name and pid twice otherwise.
  explicit SyslogLogger(std::string programName);
  ~SyslogLogger() override;
  SyslogLogger(const SyslogLogger&) = delete;
  SyslogLogger& operator=(const SyslogLogger&) = delete;

  /// Appends every later log and diagnostic line to file too.
  void setLogFile(std::unique_ptr<LogFile> file) { file_ = std::move(file); }

  void log(const std::string& line) override;
  void diagnostic(const std::string& line) override;

 private:
  std::string ident_;  // syslog keeps a pointer to it until closelog
  std::unique_ptr<LogFile> file_;
  platform::LineRepeatLimit diagnostics_{kRepeatDiagnosticAfter};
};

}  // namespace somnara::linuxhost
