#include "ChangeLock.h"

#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace somnara::pmset {
namespace {

constexpr long kPollNs = 10 * 1000 * 1000;

}  // namespace

std::optional<ChangeLock> ChangeLock::take(const fileio::FileTree& tree, const char* relative,
                                           fileio::IoError* error) {
  const int fd = tree.openPrivateFile(relative, error);
  if (fd < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return ChangeLock(fd);
    const int why = errno;
    if ((why != EWOULDBLOCK && why != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      *error = fileio::IoError{why, tree.pathOf(relative), "lock"};
      return std::nullopt;
    }
    const timespec pause{0, kPollNs};
    ::nanosleep(&pause, nullptr);
  }
}

ChangeLock& ChangeLock::operator=(ChangeLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

ChangeLock::~ChangeLock() {
  if (fd_ >= 0) ::close(fd_);
}

ChangeBudget ChangeLock::budget(std::int64_t nowMs) const {
  char text[64];
  const ssize_t n = ::pread(fd_, text, sizeof text, 0);
  return ChangeBudget::fromText(std::string_view(text, n > 0 ? static_cast<std::size_t>(n) : 0), nowMs);
}

bool ChangeLock::store(const ChangeBudget& budget) const {
  const std::string text = budget.toText();
  return ::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

}  // namespace somnara::pmset
