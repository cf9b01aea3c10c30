#pragma once

#include <cstdint>

namespace somnara::host {

/// Facts about the operating system the program runs on.
class Platform {
 public:
  virtual ~Platform() = default;
  /// The system's version encoded so that later releases compare greater.
  /// Values above 0xaffff select the newer power-tool behaviour.
  virtual std::int32_t osVersion() const = 0;
};

}  // namespace somnara::host
