// The smallest program of the tray agent's kind: a Qt Widgets application
// with one tray icon, a menu of a few items and one repeating timer that
// swaps the icon for a tenth of a second every 58 s, as the agent's blink
// does. Its memory and wakeups are what the agent's figures are compared with.
// Runs until SIGTERM/SIGINT.
#include <csignal>

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  (void)!::write(signalPipe[1], &c, 1);
}

QIcon disc(const QColor& colour) {
  QPixmap pixmap(22, 22);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setBrush(colour);
  painter.drawEllipse(3, 3, 16, 16);
  return QIcon(pixmap);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return 2;
  QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);

  const QIcon normal = disc(Qt::darkBlue), flash = disc(Qt::darkRed);
  QMenu menu;
  menu.addAction("Status")->setEnabled(false);
  for (const char* title : {"One", "Two", "Three", "Quit"}) menu.addAction(title);
  QSystemTrayIcon tray(normal);
  tray.setContextMenu(&menu);
  tray.show();

  QTimer blink;
  blink.setInterval(58000);
  QObject::connect(&blink, &QTimer::timeout, [&] {
    tray.setIcon(flash);
    QTimer::singleShot(100, &tray, [&] { tray.setIcon(normal); });
  });
  blink.start();
  return app.exec();
}
