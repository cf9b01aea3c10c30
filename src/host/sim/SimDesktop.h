#pragma once

#include <string>
#include <vector>

#include "host/Desktop.h"

namespace somnara::sim {

/// Records the documents handed to their default applications.
class SimDesktop : public host::Desktop {
 public:
  bool openWithDefaultApplication(const std::string& path) override {
    opened_.push_back(path);
    return true;
  }
  const std::vector<std::string>& opened() const { return opened_; }

 private:
  std::vector<std::string> opened_;
};

}  // namespace somnara::sim
