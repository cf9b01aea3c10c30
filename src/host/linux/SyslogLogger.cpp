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
  ::openlog(ident_.c_str(), LOG_PID, LOG_USER);
}

SyslogLogger::~SyslogLogger() { ::closelog(); }

void SyslogLogger::log(const std::string& line) {
  ::syslog(LOG_NOTICE, "%s", line.c_str());
  writeLine(line);
  if (file_) file_->append(line);
}

void SyslogLogger::diagnostic(const std::string& line) { writeLine(line); }

}  // namespace somnara::linuxhost
