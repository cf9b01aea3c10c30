#pragma once

#include <chrono>

#include "host/FileWatch.h"

namespace somnara::linuxhost {

/// Recursive inotify watch of a tree: every directory below the root
/// (directories created later included; symlinks not followed) and the root
/// itself. Paths are reported as the root was given plus the path inside it;
/// a move, rename or removal of the root reports the root's path. Events
/// arriving within `coalesce` of each other form one batch.
class InotifyFileWatch final : public host::FileWatch {
 public:
  explicit InotifyFileWatch(std::chrono::milliseconds coalesce = std::chrono::milliseconds(20));

  /// Null when root does not exist or inotify is unavailable.
  host::RegistrationPtr watch(const std::string& root,
                              std::function<void(const std::vector<std::string>& paths)> onChange) override;

 private:
  std::chrono::milliseconds coalesce_;
};

}  // namespace somnara::linuxhost
