#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QSocketNotifier;
struct inotify_event;

namespace somnara::linuxhost {

/// Watches some files of one directory with inotify: the directory (files
/// created, renamed over, removed) and each named file present (written in
/// place, also through a symbolic link). onChange runs on the run loop once
/// per readable turn of the inotify descriptor that brought an event about a
/// watched name, with what the latest such event says of its writer; an
/// attribute change or a close after a rename-over still counts as Replaced.
class InotifyDirectoryWatch {
 public:
  enum class Change {
    Writing,   // written to; its writer may still be at work
    Done,      // closed after writing, created, removed, attributes changed, or events were lost
    Replaced,  // a whole file renamed over the name, nothing written to it since
  };

  explicit InotifyDirectoryWatch(std::function<void(Change)> onChange);
  ~InotifyDirectoryWatch();
  InotifyDirectoryWatch(const InotifyDirectoryWatch&) = delete;
  InotifyDirectoryWatch& operator=(const InotifyDirectoryWatch&) = delete;

  /// Watches directory and the files called names (no slashes) in it from
  /// now on, in place of what was watched before. Call again once a file was
  /// replaced or created. False when the directory cannot be watched.
  bool watch(const std::string& directory, const std::vector<std::string>& names);

 private:
  /// Whether e is about the directory or a watched name; forgets watches the kernel dropped.
  bool concerns(const inotify_event& e);
  void drain();

  int fd_ = -1;
  int directoryWd_ = -1;
  std::set<int> fileWds_;
  std::set<std::string> names_;
  std::function<void(Change)> onChange_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace somnara::linuxhost
