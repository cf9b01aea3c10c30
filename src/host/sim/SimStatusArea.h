#pragma once

#include "host/StatusArea.h"

namespace somnara::sim {

/// The simulated session's status area: none until a test sets one; counts
/// the looks taken.
class SimStatusArea : public host::StatusArea {
 public:
  Kind find() override {
    ++looks_;
    return kind_;
  }
  void setKind(Kind kind) { kind_ = kind; }
  int lookCount() const { return looks_; }

 private:
  Kind kind_ = Kind::None;
  int looks_ = 0;
};

}  // namespace somnara::sim
