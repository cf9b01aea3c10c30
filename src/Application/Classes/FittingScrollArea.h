#pragma once

#include <QScrollArea>

namespace somnara {

/// A scroll area that scrolls its one widget vertically only: it is never
/// narrower than the widget's minimum width plus the scroll bar, so nothing
/// is cut at the side, and its preferred size shows the whole widget at the
/// widget's preferred width (words wrapped for that width). Its minimum
/// height is minimumLines lines of its font. Sizes in logical pixels.
class FittingScrollArea final : public QScrollArea {
 public:
  FittingScrollArea(QWidget* content, int minimumLines, QWidget* parent);

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  bool event(QEvent* event) override;

 private:
  // The frame on both sides and the vertical scroll bar.
  int extraWidth() const;

  int minimumLines_;
};

}  // namespace somnara
