#pragma once

#include <string>
#include <vector>

#include "host/Desktop.h"

namespace somnara::sim {

/// Records the documents handed to their default applications; a desktop
/// without a program that opens documents takes none.
class SimDesktop : public host::Desktop {
 public:
  bool openWithDefaultApplication(const std::string& path) override {
    if (!hasOpener_) return false;
    opened_.push_back(path);
    return true;
  }
  const std::vector<std::string>& opened() const { return opened_; }
  void setHasOpener(bool hasOpener) { hasOpener_ = hasOpener; }

 private:
  std::vector<std::string> opened_;
  bool hasOpener_ = true;
};

}  // namespace somnara::sim
