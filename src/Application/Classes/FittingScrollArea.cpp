#include "Application/Classes/FittingScrollArea.h"

#include <QEvent>
#include <QScrollBar>

namespace somnara {

FittingScrollArea::FittingScrollArea(QWidget* content, int minimumLines, QWidget* parent)
    : QScrollArea(parent), minimumLines_(minimumLines) {
  setWidgetResizable(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  setWidget(content);
}

int FittingScrollArea::extraWidth() const { return 2 * frameWidth() + verticalScrollBar()->sizeHint().width(); }

QSize FittingScrollArea::minimumSizeHint() const {
  return {widget()->minimumSizeHint().width() + extraWidth(),
          minimumLines_ * fontMetrics().lineSpacing() + 2 * frameWidth()};
}

QSize FittingScrollArea::sizeHint() const {
  const QSize preferred = widget()->sizeHint();
  const int height = widget()->hasHeightForWidth() ? widget()->heightForWidth(preferred.width()) : preferred.height();
  return {preferred.width() + extraWidth(), height + 2 * frameWidth()};
}

bool FittingScrollArea::event(QEvent* event) {
  // The widget's sizes changed (a text, a font, a notice shown): so did ours.
  if (event->type() == QEvent::LayoutRequest) updateGeometry();
  return QScrollArea::event(event);
}

}  // namespace somnara
