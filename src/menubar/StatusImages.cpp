#include "menubar/StatusImages.h"

#include <QFileInfo>

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
  QIcon icon = load(QString::fromStdString(name) + (monochrome ? "-symbolic" : ""));
  if (monochrome && !icon.isNull()) icon.setIsMask(true);
  cache_.emplace(key, icon);
  return icon;
}

QIcon StatusImages::load(const QString& fileName) const {
  QIcon icon;
  if (!directory_) return icon;
  for (int size : kPixelSizes) {
    const QString path = QString("%1/%2x%2/status/%3.png").arg(*directory_).arg(size).arg(fileName);
    if (QFileInfo::exists(path)) icon.addFile(path, QSize(size, size));
  }
  return icon;
}

}  // namespace somnara
