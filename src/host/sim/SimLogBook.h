#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace somnara::sim {

/// Every log and diagnostic line of every program on the machine, in the
/// order written, optionally echoed to a stream (for demos).
class SimLogBook {
 public:
  enum class Kind { Log, Diagnostic };
  struct Entry {
    std::string program;  // bundle identifier
    int pid;
    Kind kind;
    std::string line;
    std::chrono::milliseconds at;  // virtual time since the machine started
  };

  void record(Entry entry);
  const std::vector<Entry>& entries() const { return entries_; }
  /// The lines of one kind, from one program or (empty) from all.
  std::vector<std::string> lines(Kind kind, const std::string& program = {}) const;

  /// Echoes each new entry as "[seconds] program: line"; null stops it.
  void setEcho(std::ostream* out) { echo_ = out; }

 private:
  std::vector<Entry> entries_;
  std::ostream* echo_ = nullptr;
};

}  // namespace somnara::sim
