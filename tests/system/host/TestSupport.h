#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/Logger.h"

namespace somnara::linuxhost {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

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

inline void spinFor(std::chrono::milliseconds d) { spinUntil([] { return false; }, d); }

inline void writeFile(const std::string& path, const std::string& text) {
  QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RecordingLogger final : host::Logger {
  void log(const std::string& line) override { lines.push_back(line); }
  void diagnostic(const std::string&) override {}
  Strings lines;
};

/// A temporary directory; `tree / "a/b"` is a path inside it.
struct TempTree {
  std::string path() const { return dir.path().toStdString(); }
  std::string operator/(const std::string& rel) const { return path() + "/" + rel; }
  void mkdir(const std::string& rel) const { QDir().mkpath(QString::fromStdString(*this / rel)); }
  QTemporaryDir dir;
};

}  // namespace somnara::linuxhost
