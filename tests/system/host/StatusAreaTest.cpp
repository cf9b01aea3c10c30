// Where the session can show a tray icon: the status-notifier watcher on a
// private session bus (python-dbusmock), and an XEmbed tray's selection on
// Xvfb where it is installed.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QDBusVariant>
#include <QStandardPaths>
#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "host/linux/SessionStatusArea.h"

namespace somnara::linuxhost {
namespace {

using Kind = host::StatusArea::Kind;
const QString kWatcher = "org.kde.StatusNotifierWatcher";

/// $DISPLAY set to display (unset for an empty one) while it lives.
class DisplayVariable {
 public:
  explicit DisplayVariable(const QByteArray& display) : saved_(qgetenv("DISPLAY")) { set(display); }
  ~DisplayVariable() { set(saved_); }

 private:
  static void set(const QByteArray& display) {
    if (display.isEmpty())
      ::unsetenv("DISPLAY");
    else
      qputenv("DISPLAY", display);
  }
  QByteArray saved_;
};

TEST(StatusArea, AHostRegisteredWithTheWatcherCountsAndNothingElseWithoutX) {
  const DisplayVariable noX("");
  PrivateBus session;
  EXPECT_EQ(SessionStatusArea(absentBus()).find(), Kind::None) << "no session bus";
  EXPECT_EQ(SessionStatusArea(session.connection()).find(), Kind::None) << "no watcher";
  ASSERT_TRUE(session.startMock(kWatcher, QStringLiteral(SOMNARA_MOCKS_DIR "/status_notifier_watcher.py")));
  SessionStatusArea area(session.connection());
  EXPECT_EQ(area.find(), Kind::StatusNotifierHost);
  // A watcher without a host (the extension's watcher once its host is gone) shows nothing.
  session.call(kWatcher, "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties", "Set",
               {kWatcher, "IsStatusNotifierHostRegistered", QVariant::fromValue(QDBusVariant(false))});
  EXPECT_EQ(area.find(), Kind::None) << "asked afresh";
}

// Under Xvfb: a tray exists once a window owns _NET_SYSTEM_TRAY_S0, and no longer once it is gone.
TEST(StatusArea, AnXEmbedTrayOwnsTheScreensTraySelection) {
  if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
  QProcess xvfb;
  xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
  ASSERT_TRUE(spinUntil([&] { return xvfb.canReadLine(); }, 10s)) << "Xvfb did not start";
  const DisplayVariable ours(":" + xvfb.readLine().trimmed());
  {
    SessionStatusArea area(absentBus());
    EXPECT_EQ(area.find(), Kind::None);

    xcb_connection_t* tray = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(tray));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(tray)).data;
    const xcb_window_t window = xcb_generate_id(tray);
    xcb_create_window(tray, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string name = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        tray, xcb_intern_atom(tray, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    ASSERT_TRUE(atom);
    xcb_set_selection_owner(tray, window, atom->atom, XCB_CURRENT_TIME);
    std::free(atom);
    xcb_flush(tray);
    EXPECT_TRUE(spinUntil([&] { return area.find() == Kind::XEmbedTray; }, 2s));

    xcb_disconnect(tray);  // the tray ends
    EXPECT_TRUE(spinUntil([&] { return area.find() == Kind::None; }, 2s));
  }
  xvfb.terminate();
  xvfb.waitForFinished();
}

}  // namespace
}  // namespace somnara::linuxhost
