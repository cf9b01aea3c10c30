#include "menubar/StatusImages.h"

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace somnara {
namespace {

constexpr int kPixelSizes[] = {16, 22, 24, 32, 48, 64};

}  // namespace

StatusImages::StatusImages(std::optional<std::string> iconsDirectory) {
  if (iconsDirectory) directory_ = QString::fromStdString(*iconsDirectory) + "/hicolor";
}

QIcon StatusImages::icon(const std::string& name, bool monochrome) {
  const auto key = std::make_pair(name, monochrome);
  if (auto it = cache_.find(key); it != cache_.end()) return it->second;
  QIcon icon = load(QString::fromStdString(name) + (monochrome ? "-symbolic" : ""), monochrome);
  // Where the platform honours masks it paints them itself.
  if (monochrome && !icon.isNull()) icon.setIsMask(true);
  cache_.emplace(key, icon);
  return icon;
}

QIcon StatusImages::load(const QString& fileName, bool tinted) const {
  QIcon icon;
  if (!directory_) return icon;
  // The desktop theme's text colour, which panels draw their labels in.
  const QColor ink = QApplication::palette().color(QPalette::WindowText);
  for (int size : kPixelSizes) {
    const QString path = QString("%1/%2x%2/status/%3.png").arg(*directory_).arg(size).arg(fileName);
    if (!QFileInfo::exists(path)) continue;
    if (!tinted) {
      icon.addFile(path, QSize(size, size));
      continue;
    }
    QImage image(path);
    if (image.isNull()) continue;
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), ink);
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace somnara
