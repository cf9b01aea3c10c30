#include "host/linux/LogFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "fileio/FileIO.h"
#include "host/linux/XdgDirectory.h"

namespace somnara::linuxhost {

LogFile::LogFile(std::string path, std::size_t maxBytes) : path_(std::move(path)), maxBytes_(maxBytes) {}

std::string LogFile::defaultPath(const std::string& program) {
  return xdgDirectory("XDG_STATE_HOME", "/.local/state") + "/somnara/" + program + ".log";
}

std::string LogFile::timeStamp(std::chrono::system_clock::time_point t) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(t);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(t - seconds).count();
  const std::time_t whole = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  ::localtime_r(&whole, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03d", date, static_cast<int>(millis));
  return out;
}

void LogFile::append(const std::string& line) {
  const std::string stamped = timeStamp(std::chrono::system_clock::now()) + ' ' + line;
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) + stamped.size() + 1 > maxBytes_ &&
      st.st_size > 0)
    fileio::renameFile(path_, path_ + ".1");
  if (auto error = fileio::appendLine(path_, stamped); error && !reportedFailure_) {
    reportedFailure_ = true;
    fileio::writeAll(STDERR_FILENO, "Log file unavailable: " + error->message() + "\n");
  }
}

}  // namespace somnara::linuxhost
