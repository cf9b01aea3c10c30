#pragma once

#include <string>

namespace somnara::host {

class Logger {
 public:
  virtual ~Logger() = default;
  /// One line to the system log.
  virtual void log(const std::string& line) = 0;
  /// One diagnostic line: detail for finding a fault, kept out of the
  /// terminal; repeats of a line may be held back.
  virtual void diagnostic(const std::string& line) = 0;
};

}  // namespace somnara::host
