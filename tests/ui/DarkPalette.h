#pragma once

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QStyle>

#include <utility>

namespace somnara::testing {

/// A dark theme's colours (those of KDE's Breeze Dark), over the style's
/// standard palette: for the window's checks on a dark theme and its picture.
inline QPalette darkPalette() {
  QPalette dark = QApplication::style()->standardPalette();
  const std::pair<QPalette::ColorRole, const char*> colours[] = {
      {QPalette::Window, "#2a2e32"}, {QPalette::WindowText, "#fcfcfc"}, {QPalette::Base, "#1b1e20"},
      {QPalette::AlternateBase, "#232629"}, {QPalette::Text, "#fcfcfc"}, {QPalette::Button, "#31363b"},
      {QPalette::ButtonText, "#fcfcfc"}, {QPalette::Highlight, "#3daee9"}, {QPalette::Light, "#40464c"},
      {QPalette::Midlight, "#383d43"}, {QPalette::Mid, "#24282b"}, {QPalette::Dark, "#1b1e20"},
      {QPalette::Shadow, "#0e1012"}, {QPalette::PlaceholderText, "#a0a0a0"}, {QPalette::Link, "#1d99f3"}};
  for (const auto& [role, colour] : colours) dark.setColor(role, QColor(colour));
  return dark;
}

}  // namespace somnara::testing
