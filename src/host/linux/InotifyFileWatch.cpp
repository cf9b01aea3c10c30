#include "host/linux/InotifyFileWatch.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "host/linux/CallbackRegistration.h"

namespace somnara::linuxhost {
namespace {

constexpr std::uint32_t kDirMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
constexpr std::uint32_t kFileMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

struct TreeWatch : std::enable_shared_from_this<TreeWatch> {
  ~TreeWatch() {
    notifier.reset();
    if (fd >= 0) ::close(fd);
  }

  int fd = -1;
  int rootWd = -1;
  std::string root;
  std::map<int, std::string> paths;  // watch descriptor -> path
  std::set<std::string> batch;
  std::function<void(const std::vector<std::string>&)> onChange;
  std::unique_ptr<QSocketNotifier> notifier;
  QTimer deliverTimer;

  bool addTree(const std::string& dir) {
    const int wd = ::inotify_add_watch(fd, dir.c_str(), kDirMask);
    if (wd < 0) return false;
    paths[wd] = dir;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const std::string child = dir + "/" + e->d_name;
        struct stat st {};
        if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) addTree(child);
      }
      ::closedir(d);
    }
    return true;
  }

  void readEvents() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t off = 0; off < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + off);
        off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        handle(*e);
      }
    }
    if (!batch.empty() && !deliverTimer.isActive()) deliverTimer.start();
  }

  void handle(const inotify_event& e) {
    if (e.mask & IN_Q_OVERFLOW) {
      batch.insert(root);
      return;
    }
    auto it = paths.find(e.wd);
    if (it == paths.end()) return;
    if (e.mask & IN_IGNORED) {
      paths.erase(it);
      return;
    }
    const std::string dir = it->second;
    if (e.wd == rootWd && (e.mask & (IN_MOVE_SELF | IN_DELETE_SELF))) {
      batch.insert(root);
      return;
    }
    if (e.mask & (IN_MOVE_SELF | IN_DELETE_SELF)) return;  // reported by the parent directory
    const std::string path = e.len > 0 && e.name[0] ? dir + "/" + e.name : dir;
    batch.insert(path);
    if ((e.mask & IN_ISDIR) && (e.mask & (IN_CREATE | IN_MOVED_TO))) {
      addTree(path);
    }
  }

  void deliver() {
    if (batch.empty()) return;
    std::vector<std::string> out(batch.begin(), batch.end());
    batch.clear();
    auto keep = shared_from_this();  // the observer may drop its registration
    auto fn = onChange;
    fn(out);
  }
};

}  // namespace

InotifyFileWatch::InotifyFileWatch(std::chrono::milliseconds coalesce) : coalesce_(coalesce) {}

host::RegistrationPtr InotifyFileWatch::watch(const std::string& root,
                                              std::function<void(const std::vector<std::string>& paths)> onChange) {
  std::string clean = root;
  while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
  struct stat st {};
  if (clean.empty() || ::lstat(clean.c_str(), &st) != 0) return nullptr;

  auto w = std::make_shared<TreeWatch>();
  w->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (w->fd < 0) return nullptr;
  w->root = clean;
  w->onChange = std::move(onChange);
  if (S_ISDIR(st.st_mode)) {
    if (!w->addTree(clean)) return nullptr;
    for (const auto& [wd, path] : w->paths)
      if (path == clean) w->rootWd = wd;
  } else {
    w->rootWd = ::inotify_add_watch(w->fd, clean.c_str(), kFileMask);
    if (w->rootWd < 0) return nullptr;
    w->paths[w->rootWd] = clean;
  }
  TreeWatch* raw = w.get();
  w->deliverTimer.setSingleShot(true);
  w->deliverTimer.setInterval(static_cast<int>(coalesce_.count()));
  QObject::connect(&w->deliverTimer, &QTimer::timeout, &w->deliverTimer, [raw] { raw->deliver(); });
  w->notifier = std::make_unique<QSocketNotifier>(w->fd, QSocketNotifier::Read);
  QObject::connect(w->notifier.get(), &QSocketNotifier::activated, w->notifier.get(), [raw] { raw->readEvents(); });
  return CallbackRegistration::make([w]() mutable { w.reset(); });
}

}  // namespace somnara::linuxhost
