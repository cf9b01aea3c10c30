#pragma once

#include <string>

namespace somnara::host {

/// The user's desktop: documents opened with the application the user chose
/// for their type. Single-threaded, on the program's run loop.
class Desktop {
 public:
  virtual ~Desktop() = default;
  /// Hands the file at path to its default application without waiting for
  /// it; false when no application could be asked.
  virtual bool openWithDefaultApplication(const std::string& path) = 0;
};

}  // namespace somnara::host
