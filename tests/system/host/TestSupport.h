#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/Logger.h"

namespace somnara::linuxhost::test {

/// Serves the event loop until done() holds or timeout passes; done()'s last answer.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeout.count()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

/// Serves the event loop for d.
inline void spinFor(std::chrono::milliseconds d) {
  spinUntil([] { return false; }, d);
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RecordingLogger final : public host::Logger {
 public:
  void log(const std::string& line) override { lines.push_back(line); }
  void diagnostic(const std::string& line) override { diagnostics.push_back(line); }
  std::vector<std::string> lines;
  std::vector<std::string> diagnostics;
};

class TempTree {
 public:
  TempTree() { dir_.setAutoRemove(true); }
  std::string path() const { return dir_.path().toStdString(); }
  std::string operator/(const std::string& rel) const { return path() + "/" + rel; }

 private:
  QTemporaryDir dir_;
};

}  // namespace somnara::linuxhost::test
