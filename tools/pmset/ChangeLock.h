#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "ChangeBudget.h"
#include "fileio/FileTree.h"

namespace somnara::pmset {

/// Makes the run holding it the only one changing the sleep settings: an
/// exclusive flock on a file that also keeps the machine's ChangeBudget. A
/// run holds it only while it reads and writes files, never while it waits
/// for another process such as systemctl, so a run stopped or slow there
/// keeps nobody waiting. Released when destroyed (and by the kernel when
/// the process ends).
class ChangeLock {
 public:
  /// How long take() waits for another run to let go.
  static constexpr std::chrono::milliseconds kWait{2000};

  /// Takes the lock on the file at relative (created 0600 with its
  /// directories). nullopt with *error set when the file cannot be opened,
  /// or with error EWOULDBLOCK when another run held it for all of kWait.
  static std::optional<ChangeLock> take(const fileio::FileTree& tree, const char* relative, fileio::IoError* error);

  ChangeLock(ChangeLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ChangeLock& operator=(ChangeLock&& other) noexcept;
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  ~ChangeLock();

  /// The budget as stored, at nowMs.
  ChangeBudget budget(std::int64_t nowMs) const;
  /// Stores the budget; false when it could not be written.
  bool store(const ChangeBudget& budget) const;

 private:
  explicit ChangeLock(int fd) : fd_(fd) {}

  int fd_;
};

}  // namespace somnara::pmset
