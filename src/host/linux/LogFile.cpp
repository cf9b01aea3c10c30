#include "host/linux/LogFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include "fileio/FileIO.h"
#include "host/linux/XdgDirectory.h"

namespace somnara::linuxhost {

LogFile::LogFile(std::string path, std::size_t maxBytes) : path_(std::move(path)), maxBytes_(maxBytes) {}

std::string LogFile::defaultPath(const std::string& program) {
  return xdgDirectory("XDG_STATE_HOME", "/.local/state") + "/somnara/" + program + ".log";
}

void LogFile::append(const std::string& line) {
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) + line.size() + 1 > maxBytes_ &&
      st.st_size > 0)
    fileio::renameFile(path_, path_ + ".1");
  if (auto error = fileio::appendLine(path_, line); error && !reportedFailure_) {
    reportedFailure_ = true;
    fileio::writeAll(STDERR_FILENO, "Log file unavailable: " + error->message() + "\n");
  }
}

}  // namespace somnara::linuxhost
