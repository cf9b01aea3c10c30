#include "host/sim/SimLogger.h"

namespace somnara::sim {

void SimLogger::log(const std::string& line) {
  logLines_.push_back(line);
  book_.record({program_, pid_, SimLogBook::Kind::Log, line, loop_.elapsed()});
}

void SimLogger::diagnostic(const std::string& line) {
  diagnosticLines_.push_back(line);
  book_.record({program_, pid_, SimLogBook::Kind::Diagnostic, line, loop_.elapsed()});
}

}  // namespace somnara::sim
