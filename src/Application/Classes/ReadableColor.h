#pragma once

#include <QColor>
#include <QPalette>

namespace somnara {

/// Colours for text that stays readable on the palette it is drawn on.
class ReadableColor {
 public:
  /// Contrast ratio of two opaque colours by relative luminance: 1 (same
  /// luminance) to 21 (black on white).
  static double contrast(const QColor& a, const QColor& b);

  /// Secondary text: the palette's window text moved toward its window
  /// colour as far as a contrast of at least minimumContrast on the window
  /// colour allows, at most half way; the window text itself where even
  /// that falls short.
  static QColor secondaryText(const QPalette& palette, double minimumContrast = 4.5);
};

}  // namespace somnara
