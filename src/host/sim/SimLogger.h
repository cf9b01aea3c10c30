#pragma once

#include <string>
#include <vector>

#include "host/Logger.h"
#include "host/sim/SimLogBook.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's logger: keeps its own lines and adds them to the machine's book.
class SimLogger : public host::Logger {
 public:
  SimLogger(SimLogBook& book, const SimRunLoop& loop, std::string program, int pid)
      : book_(book), loop_(loop), program_(std::move(program)), pid_(pid) {}

  void log(const std::string& line) override;
  void diagnostic(const std::string& line) override;

  const std::vector<std::string>& logLines() const { return logLines_; }
  const std::vector<std::string>& diagnosticLines() const { return diagnosticLines_; }

 private:
  SimLogBook& book_;
  const SimRunLoop& loop_;
  std::string program_;
  int pid_;
  std::vector<std::string> logLines_;
  std::vector<std::string> diagnosticLines_;
};

}  // namespace somnara::sim
