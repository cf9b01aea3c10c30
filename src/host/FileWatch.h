#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/Registration.h"

namespace somnara::host {

/// Watches a directory tree, the root itself included (a move or rename of
/// the root is reported with the root's path).
class FileWatch {
 public:
  virtual ~FileWatch() = default;
  /// Calls onChange on the run loop with the changed paths of one batch;
  /// null when the watch cannot be set up.
  virtual RegistrationPtr watch(const std::string& root,
                                std::function<void(const std::vector<std::string>& paths)> onChange) = 0;
};

}  // namespace somnara::host
