#include "host/linux/InotifyDirectoryWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <optional>

namespace somnara::linuxhost {
namespace {

constexpr std::uint32_t kDirectoryMask = IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                         IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kFileMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

InotifyDirectoryWatch::InotifyDirectoryWatch(std::function<void(Change)> onChange)
    : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), onChange_(std::move(onChange)) {
  if (fd_ < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
}

InotifyDirectoryWatch::~InotifyDirectoryWatch() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

bool InotifyDirectoryWatch::watch(const std::string& directory, const std::vector<std::string>& names) {
  if (fd_ < 0) return false;
  for (int wd : fileWds_) ::inotify_rm_watch(fd_, wd);
  fileWds_.clear();
  names_ = {names.begin(), names.end()};
  directoryWd_ = ::inotify_add_watch(fd_, directory.c_str(), kDirectoryMask);
  if (directoryWd_ < 0) return false;
  for (const std::string& name : names_) {
    const int wd = ::inotify_add_watch(fd_, (directory + "/" + name).c_str(), kFileMask);
    if (wd >= 0 && wd != directoryWd_) fileWds_.insert(wd);
  }
  return true;
}

bool InotifyDirectoryWatch::concerns(const inotify_event& e) {
  if (e.mask & IN_Q_OVERFLOW) return true;
  // Without a name the event is about the directory itself: moved, removed, no longer watched.
  if (e.wd == directoryWd_) return e.len == 0 || !e.name[0] || names_.count(e.name) > 0;
  if (!fileWds_.count(e.wd)) return false;
  if (!(e.mask & IN_IGNORED)) return true;
  fileWds_.erase(e.wd);  // the file is gone; its replacement is watched at the next watch()
  return false;
}

void InotifyDirectoryWatch::drain() {
  std::optional<Change> latest;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t off = 0; off < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      if (!concerns(*e)) continue;
      if (e->mask & IN_MODIFY) latest = Change::Writing;
      else if (e->wd == directoryWd_ && (e->mask & IN_MOVED_TO)) latest = Change::Replaced;
      else if (latest != Change::Replaced) latest = Change::Done;
    }
  }
  if (latest) onChange_(*latest);
}

}  // namespace somnara::linuxhost
