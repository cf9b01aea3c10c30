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

  /// The named image in colour, or (monochrome) its single-colour form
  /// painted in the desktop theme's text colour (the colour panels draw
  /// their labels in, light on dark themes), as read when first asked; a
  /// null icon when the bundle holds no file of it.
  QIcon icon(const std::string& name, bool monochrome);

 private:
  /// tinted: painted in the desktop theme's text colour.
  QIcon load(const QString& fileName, bool tinted) const;

  std::optional<QString> directory_;
  std::map<std::pair<std::string, bool>, QIcon> cache_;
};

}  // namespace somnara
