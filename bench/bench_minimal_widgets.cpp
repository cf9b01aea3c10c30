// The smallest window program: a Qt Widgets window with one label. Prints
// "ready" once its event loop first runs with the window shown, then exits.
// Its start-up time is the baseline of the preferences window's.
#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QLabel window("Somnara");
  window.show();
  QTimer::singleShot(0, [] {
    std::puts("ready");
    std::fflush(stdout);
    QApplication::quit();
  });
  return QApplication::exec();
}
