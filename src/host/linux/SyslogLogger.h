#pragma once

#include <memory>
#include <string>

#include "host/Logger.h"
#include "host/linux/LogFile.h"

namespace somnara::linuxhost {

/// Log lines to syslog (the journal), stderr and, once set, the program's
/// log file; diagnostics to stderr only.
class SyslogLogger final : public host::Logger {
 public:
  /// programName: the syslog identifier.
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
};

}  // namespace somnara::linuxhost
