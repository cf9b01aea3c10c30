#pragma once

#include <QCoreApplication>
#include <QDir>
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

using namespace std::chrono_literals;

/// Serves the event loop until done() holds or timeout passes; done()'s last answer.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeout.count()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

inline void spinFor(std::chrono::milliseconds d) {
  spinUntil([] { return false; }, d);
}

inline void writeFile(const std::string& path, const std::string& text) {
  QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
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

/// A temporary directory; `tree / "a/b"` is a path inside it.
class TempTree {
 public:
  std::string path() const { return dir_.path().toStdString(); }
  std::string operator/(const std::string& rel) const { return path() + "/" + rel; }
  /// Makes directory rel (and its parents); its path.
  std::string mkdir(const std::string& rel) const {
    QDir().mkpath(QString::fromStdString(*this / rel));
    return *this / rel;
  }

 private:
  QTemporaryDir dir_;
};

}  // namespace somnara::linuxhost::test

namespace somnara::linuxhost {
using namespace std::chrono_literals;
using namespace test;
}  // namespace somnara::linuxhost
