#pragma once

#include <string>

#include "host/Logger.h"

namespace somnara::linuxhost {

/// Log lines to syslog (the journal) and stderr; diagnostics to stderr only.
class SyslogLogger final : public host::Logger {
 public:
  /// programName: the syslog identifier.
  explicit SyslogLogger(std::string programName);
  ~SyslogLogger() override;
  SyslogLogger(const SyslogLogger&) = delete;
  SyslogLogger& operator=(const SyslogLogger&) = delete;

  void log(const std::string& line) override;
  void diagnostic(const std::string& line) override;

 private:
  std::string ident_;  // syslog keeps a pointer to it until closelog
};

}  // namespace somnara::linuxhost
