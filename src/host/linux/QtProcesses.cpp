#include "host/linux/QtProcesses.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>

#include "host/linux/BundleLocator.h"

namespace somnara::linuxhost {

QtProcesses::QtProcesses(std::string procDir) : procDir_(std::move(procDir)) {}

std::optional<int> QtProcesses::run(const std::string& path, const std::vector<std::string>& args) {
  QProcess process;
  process.setProgram(QString::fromStdString(path));
  QStringList arguments;
  for (const auto& a : args) arguments << QString::fromStdString(a);
  process.setArguments(arguments);
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.setStandardInputFile(QProcess::nullDevice());

  QEventLoop loop;
  bool done = false;
  QObject::connect(&process, &QProcess::finished, &loop, [&] {
    done = true;
    loop.quit();
  });
  QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) {
      done = true;
      loop.quit();
    }
  });
  process.start();
  if (!done) loop.exec();
  // The application quitting ends nested loops too; the tool still gets to finish.
  if (process.state() != QProcess::NotRunning) process.waitForFinished(-1);
  if (process.error() == QProcess::FailedToStart || process.exitStatus() != QProcess::NormalExit)
    return std::nullopt;
  return process.exitCode();
}

int QtProcesses::currentPid() const { return static_cast<int>(::getpid()); }

unsigned QtProcesses::effectiveUid() const { return static_cast<unsigned>(::geteuid()); }

std::vector<int> QtProcesses::runningApplications(const std::string& bundleId) const {
  std::vector<int> pids;
  if (bundleId.empty()) return pids;
  std::map<std::string, std::string> identifiers;  // bundle path -> identifier, for this scan
  const QDir proc(QString::fromStdString(procDir_));
  for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool numeric = false;
    const int pid = entry.toInt(&numeric);
    if (!numeric || pid <= 0) continue;
    // Only this user's programs: another user's instance is not ours to end.
    struct stat owner {};
    const std::string dir = procDir_ + "/" + entry.toStdString();
    if (::stat(dir.c_str(), &owner) != 0 || owner.st_uid != ::geteuid()) continue;
    const auto bundle = bundleOfProcessDirectory(dir);
    if (!bundle) continue;
    auto it = identifiers.find(*bundle);
    if (it == identifiers.end()) it = identifiers.emplace(*bundle, BundleLocator::identifierOfBundle(*bundle)).first;
    if (it->second == bundleId) pids.push_back(pid);
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

std::optional<std::string> QtProcesses::bundleOfProcessDirectory(const std::string& dir) {
  const std::string link = dir + "/exe";
  char buffer[4096];
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return std::nullopt;
  std::string exe(buffer, static_cast<std::size_t>(n));
  // A replaced or removed executable is still the program that runs.
  const std::string deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
    exe.resize(exe.size() - deleted.size());
  return BundleLocator::bundlePathForExecutable(exe);
}

std::optional<std::string> QtProcesses::bundlePathOfApplication(int pid) const {
  if (pid <= 0) return std::nullopt;
  return bundleOfProcessDirectory(procDir_ + "/" + std::to_string(pid));
}

bool QtProcesses::isAlive(int pid) const { return pid > 0 && ::kill(pid, 0) == 0; }

bool QtProcesses::terminate(int pid) { return pid > 0 && ::kill(pid, SIGTERM) == 0; }

namespace {

// Called through syscall(2): not every C library declares these.
int openPidFd(int pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

bool signalPidFd(int fd, int signal) {
#ifdef SYS_pidfd_send_signal
  return ::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0) == 0;
#else
  errno = ENOSYS;
  return false;
#endif
}

}  // namespace

bool QtProcesses::forceTerminate(int pid) {
  if (pid <= 0) return false;
  const int fd = openPidFd(pid);
  if (fd < 0) {
    if (errno == ESRCH) return false;
    return ::kill(pid, SIGKILL) == 0;
  }
  const bool sent = signalPidFd(fd, SIGKILL);
  if (sent) {
    // The pidfd turns readable once the process has exited.
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 1000) < 0 && errno == EINTR) {
    }
  }
  ::close(fd);
  return sent;
}

void QtProcesses::exitImmediately(int status) {
  std::fflush(nullptr);
  ::_exit(status);
}

void QtProcesses::kill(int pid) {
  if (pid > 0) ::kill(pid, SIGKILL);
}

}  // namespace somnara::linuxhost
