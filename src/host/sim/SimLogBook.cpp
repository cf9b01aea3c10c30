#include "host/sim/SimLogBook.h"

#include <cstdio>

namespace somnara::sim {

void SimLogBook::record(Entry entry) {
  if (echo_) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ", static_cast<double>(entry.at.count()) / 1000.0);
    *echo_ << stamp << entry.program << (entry.kind == Kind::Diagnostic ? " (stderr): " : ": ") << entry.line
           << '\n';
  }
  entries_.push_back(std::move(entry));
}

std::vector<std::string> SimLogBook::lines(Kind kind, const std::string& program) const {
  std::vector<std::string> out;
  for (const auto& e : entries_)
    if (e.kind == kind && (program.empty() || e.program == program)) out.push_back(e.line);
  return out;
}

}  // namespace somnara::sim
