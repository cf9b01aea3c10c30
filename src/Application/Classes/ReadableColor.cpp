#include "Application/Classes/ReadableColor.h"

#include <algorithm>
#include <cmath>

namespace somnara {
namespace {

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double luminance(const QColor& c) {
  auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

QColor mix(const QColor& from, const QColor& to, double t) {
  return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * t),
                          static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * t),
                          static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * t));
}

// Steps of the move toward the window colour, of at most half the way.
constexpr int kSteps = 20;

}  // namespace

double ReadableColor::contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableColor::secondaryText(const QPalette& palette, double minimumContrast) {
  const QColor text = palette.color(QPalette::WindowText);
  const QColor window = palette.color(QPalette::Window);
  for (int step = kSteps; step > 0; --step) {
    const QColor candidate = mix(text, window, 0.5 * step / kSteps);
    if (contrast(candidate, window) >= minimumContrast) return candidate;
  }
  return text;
}

}  // namespace somnara
