#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <functional>
#include <list>
#include <optional>
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

/// Sets environment variables (nullptr: unset) and puts the old values back.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      saved_.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
      set(name, value);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) set(name, value ? value->constData() : nullptr);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  static void set(const char* name, const char* value) { value ? qputenv(name, value) : qunsetenv(name); }
  std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

/// An X server of its own; display is empty where Xvfb is not installed or did not start.
struct Xvfb {
  Xvfb() {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) return;
    process.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
    if (spinUntil([&] { return process.canReadLine(); }, 10s)) display = ":" + process.readLine().trimmed();
  }
  ~Xvfb() {
    process.terminate();
    process.waitForFinished();
  }
  QProcess process;
  QByteArray display;
};

/// A connection that never reaches a bus.
inline QDBusConnection absentBus() {
  return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/somnara-test-bus"),
                                       QStringLiteral("absent"));
}

/// A dbus-daemon of its own (the "session" configuration serves as either
/// bus) with python-dbusmock services on it, all ended on destruction.
class PrivateBus {
 public:
  PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    spinUntil([&] { return daemon_.canReadLine(); });
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    connection_ = QDBusConnection::connectToBus(address_, "private-bus-" + address_);
  }
  ~PrivateBus() {
    for (auto& mock : mocks_) mock.kill(), mock.waitForFinished();
    QDBusConnection::disconnectFromBus("private-bus-" + address_);
    daemon_.kill();
    daemon_.waitForFinished();
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const QString& address() const { return address_; }
  QDBusConnection& connection() { return connection_; }

  /// Runs python-dbusmock with template (a stock name or a file) and waits
  /// until it owns busName.
  bool startMock(const QString& busName, const QString& templ, const QString& parameters = {}) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", address_);
    env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
    QProcess& mock = mocks_.emplace_back();
    mock.setProcessEnvironment(env);
    mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock.setStandardOutputFile(QProcess::nullDevice());
    QStringList args{"-m", "dbusmock", "--template", templ};
    if (!parameters.isEmpty()) args << "--parameters" << parameters;
    mock.start(QStringLiteral("/usr/bin/python3"), args);
    return spinUntil([&] { return connection_.interface()->isServiceRegistered(busName).value(); }, 15s);
  }

  /// Ends the mock started last, which gives up its names.
  void stopNewestMock() {
    mocks_.back().kill();
    mocks_.back().waitForFinished();
    mocks_.pop_back();
  }

  /// A method call that must succeed; its reply.
  QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                    const QList<QVariant>& args = {}) {
    auto m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(args);
    QDBusMessage reply = connection_.call(m);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply;
  }

 private:
  QProcess daemon_;
  QString address_;
  QDBusConnection connection_{QString()};
  std::list<QProcess> mocks_;
};

/// logind's ListInhibitors on bus, as "what/mode" each.
inline Strings logindInhibitors(PrivateBus& bus) {
  const QDBusArgument arg = bus.call("org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "ListInhibitors")
                                .arguments()
                                .value(0)
                                .value<QDBusArgument>();
  Strings out;
  QString what, who, why, mode;
  uint uid = 0, pid = 0;
  for (arg.beginArray(); !arg.atEnd(); out.push_back((what + "/" + mode).toStdString())) {
    arg.beginStructure();
    arg >> what >> who >> why >> mode >> uid >> pid;
    arg.endStructure();
  }
  arg.endArray();
  return out;
}

}  // namespace somnara::linuxhost
