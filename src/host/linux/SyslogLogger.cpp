#include "host/linux/SyslogLogger.h"


#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include "fileio/FileIO.h"

namespace somnara::linuxhost {
namespace {

void writeLine(const std::string& line) {
  std::string out = line;
  out += '\n';
  fileio::writeAll(STDERR_FILENO, out);
}

}  // namespace

SyslogLogger::SyslogLogger(std::string programName) : ident_(std::move(programName)) {
  for (char& c : ident_)
    if (c == ' ' || c == '\t') c = '-';
  ::openlog(ident_.c_str(), LOG_PID, LOG_USER);
}

SyslogLogger::~SyslogLogger() { ::closelog(); }

void SyslogLogger::log(const std::string& line) {
  ::syslog(LOG_NOTICE, "%s", line.c_str());
  writeLine(line);
  if (file_) file_->append(line);
}

void SyslogLogger::diagnostic(const std::string& line) {
  const auto now = std::chrono::steady_clock::now();
  auto it = diagnostics_.find(line);
  if (it != diagnostics_.end() && now - it->second < kRepeatDiagnosticAfter) return;
  if (it == diagnostics_.end() && diagnostics_.size() >= kRememberedDiagnostics) diagnostics_.clear();
  diagnostics_[line] = now;
  writeLine(line);
}

}  // namespace somnara::linuxhost
