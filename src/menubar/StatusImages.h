#pragma once

#include <QIcon>
#include <QString>

#include <map>
#include <optional>
#include <string>
#include <utility>

namespace somnara {

/// The status images of the agent's bundle, an icon-theme tree under
/// Resources/icons: hicolor/<size>/status/<name>.png, each also as
/// "<name>-symbolic", the single-colour form. Only the raster sizes are
/// used (Qt scales between them; no SVG plugin is needed). Icons are built
/// once per name and form.
class StatusImages {
 public:
  /// iconsDirectory: the bundle's Resources/icons; nullopt when the bundle has none.
  explicit StatusImages(std::optional<std::string> iconsDirectory);

  /// The named image in colour, or (monochrome) single-coloured as a mask
  /// that the panel paints in its own text colour; a null icon when the
  /// bundle holds no file of it.
  QIcon icon(const std::string& name, bool monochrome);

 private:
  QIcon load(const QString& fileName) const;

  std::optional<QString> directory_;
  std::map<std::pair<std::string, bool>, QIcon> cache_;
};

}  // namespace somnara
