#include "host/linux/QtDesktopServices.h"

#include <QDesktopServices>
#include <QUrl>

namespace somnara::linuxhost {

bool QtDesktopServices::openWithDefaultApplication(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace somnara::linuxhost
