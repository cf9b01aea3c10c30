#include "host/linux/SyslogLogger.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>

namespace somnara::linuxhost {
namespace {

void writeLine(const std::string& line) {
  std::string out = line;
  out += '\n';
  const char* p = out.data();
  std::size_t left = out.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

SyslogLogger::SyslogLogger(std::string programName) : ident_(std::move(programName)) {
  ::openlog(ident_.c_str(), LOG_PID, LOG_USER);
}

SyslogLogger::~SyslogLogger() { ::closelog(); }

void SyslogLogger::log(const std::string& line) {
  ::syslog(LOG_NOTICE, "%s", line.c_str());
  writeLine(line);
}

void SyslogLogger::diagnostic(const std::string& line) { writeLine(line); }

}  // namespace somnara::linuxhost
