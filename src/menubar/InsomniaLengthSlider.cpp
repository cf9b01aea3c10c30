#include "menubar/InsomniaLengthSlider.h"

#include "menubar/MenuBarAppDelegate.h"

namespace somnara {
namespace {

constexpr int kLongestSeconds = 8 * 3600;
constexpr int kStepSeconds = 5 * 60;

std::string lengthKeyPath() { return UserDefaultsController::keyPath(MenuBarAppDelegate::kInsomniaTimeKey); }

}  // namespace

InsomniaLengthSlider::InsomniaLengthSlider(MenuBarAppDelegate& delegate, UserDefaultsController& controller,
                                           QWidget* parent)
    : QSlider(Qt::Horizontal, parent), delegate_(delegate), controller_(controller), length_(controller, lengthKeyPath()) {
  setRange(0, kLongestSeconds);
  setSingleStep(kStepSeconds);
  setPageStep(6 * kStepSeconds);
  setTickInterval(3600);
  setTickPosition(QSlider::TicksBelow);
  setMinimumWidth(180);
  setToolTip("Insomnia length: 0 runs until stopped");
  follow();
  // While dragging only the position moves; the length is taken when the
  // slider is let go, or at once for keyboard and wheel steps.
  connect(this, &QSlider::sliderReleased, this, &InsomniaLengthSlider::write);
  connect(this, &QSlider::valueChanged, this, [this] {
    if (!isSliderDown()) write();
  });
  connect(&length_, &qtbridge::DefaultsSignal::changed, this, &InsomniaLengthSlider::follow);
}

void InsomniaLengthSlider::write() {
  const auto current = controller_.value(lengthKeyPath());
  const double seconds = value();
  if (current && current->real() == seconds) return;
  delegate_.takeInsomniaSliderValue(seconds);
}

void InsomniaLengthSlider::follow() {
  const auto current = controller_.value(lengthKeyPath());
  if (!current || !current->real()) return;
  const QSignalBlocker quiet(this);
  setValue(static_cast<int>(*current->real()));
}

}  // namespace somnara
