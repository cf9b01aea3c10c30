#include "TestProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace somnara::testing {

namespace {

[[noreturn]] void childFail(const char* what) {
  dprintf(2, "test launcher: %s: %s\n", what, std::strerror(errno));
  _exit(250);
}

void drain(int outFd, int errFd, std::string& out, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? out : err).append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

Outcome run(const Launch& launch) {
  // Build everything the child needs before fork.
  std::vector<char*> argv;
  for (const auto& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  if (launch.env) {
    for (const auto& e : *launch.env) envp.push_back(const_cast<char*>(e.c_str()));
  } else {
    for (char** e = environ; *e; ++e) envp.push_back(*e);
  }
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (launch.closeStandardFds) {
      ::close(0);
      ::close(1);
      ::close(2);
    } else {
      ::dup2(outPipe[1], 1);
      ::dup2(errPipe[1], 2);
      int devnull = ::open("/dev/null", O_RDONLY);
      ::dup2(devnull, 0);
      if (devnull > 2) ::close(devnull);
    }
    for (int fd : launch.extraFds) {
      int flags = ::fcntl(fd, F_GETFD);
      if (flags < 0 || ::fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) != 0) _exit(251);
    }
    for (int sig : launch.ignoredSignals) ::signal(sig, SIG_IGN);
    if (!launch.blockedSignals.empty()) {
      sigset_t set;
      sigemptyset(&set);
      for (int sig : launch.blockedSignals) sigaddset(&set, sig);
      sigprocmask(SIG_BLOCK, &set, nullptr);
    }
    if (launch.umask) ::umask(*launch.umask);
    if (!launch.workingDirectory.empty() && ::chdir(launch.workingDirectory.c_str()) != 0)
      childFail("chdir");
    if (launch.asNobody) {
      if (::setgroups(launch.supplementaryGroups.size(), launch.supplementaryGroups.data()) != 0)
        childFail("setgroups");
      if (::setresgid(kNogroup, kNogroup, kNogroup) != 0) childFail("setresgid");
      if (::setresuid(kNobody, kNobody, kNobody) != 0) childFail("setresuid");
    }
    ::execve(launch.program.c_str(), argv.data(), envp.data());
    childFail("execve");
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  Outcome outcome;
  drain(outPipe[0], errPipe[0], outcome.out, outcome.err);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "somnara-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Undo read-only modes a test may have left so removal succeeds.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  std::filesystem::remove_all(path_, ec);
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
  }
  ::chmod(path.c_str(), mode);
}

void copyFile(const std::string& from, const std::string& to, mode_t mode) {
  std::filesystem::remove(to);
  std::filesystem::copy_file(from, to);
  if (::chown(to.c_str(), 0, 0) != 0 || ::chmod(to.c_str(), mode) != 0)
    throw std::runtime_error("cannot set owner/mode of " + to);
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace somnara::testing
