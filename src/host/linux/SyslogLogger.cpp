#include "host/linux/SyslogLogger.h"

#include <syslog.h>
#include <unistd.h>

#include "fileio/FileIO.h"

namespace somnara::linuxhost {

SyslogLogger::SyslogLogger(std::string programName) : ident_(std::move(programName)) {
  for (char& c : ident_)
    if (c == ' ' || c == '\t') c = '-';
  ::openlog(ident_.c_str(), LOG_PID, LOG_USER);
}

SyslogLogger::~SyslogLogger() { ::closelog(); }

void SyslogLogger::log(const std::string& line) {
  ::syslog(LOG_NOTICE, "%s", line.c_str());
  fileio::writeAll(STDERR_FILENO, line + '\n');
  if (file_) file_->append(line);
}

void SyslogLogger::diagnostic(const std::string& line) {
  if (!diagnostics_.admit(line, platform::LineRepeatLimit::Clock::now())) return;
  ::syslog(LOG_INFO, "%s", line.c_str());
  if (file_) file_->append(line);
}

}  // namespace somnara::linuxhost
