#pragma once

#include <QGroupBox>

#include "host/Inhibitors.h"
#include "menubar/InhibitorList.h"
#include "qtbridge/KeyValueSignal.h"

class QLabel;

namespace somnara {

/// The settings window's read-only list of the locks keeping the machine
/// awake: read when the window shows and kept current while it is shown
/// (see InhibitorList), left alone while it is hidden. The port outlives it.
class InhibitorGroup final : public QGroupBox {
  Q_OBJECT

 public:
  InhibitorGroup(host::Inhibitors& inhibitors, QWidget* parent);
  ~InhibitorGroup() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void fill();

  InhibitorList list_;
  // After list_, so it stops observing the list before the list goes (child
  // objects are deleted only after the members).
  qtbridge::KeyValueSignal changes_;
  QLabel* lines_ = nullptr;
  bool looking_ = false;
};

}  // namespace somnara
