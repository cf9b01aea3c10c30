#pragma once

#include <QGroupBox>
#include <memory>

#include "host/Inhibitors.h"
#include "menubar/InhibitorList.h"

class QLabel;

namespace somnara {
namespace qtbridge {
class KeyValueSignal;
}

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
  // Observes list_, so it goes before list_ does.
  std::unique_ptr<qtbridge::KeyValueSignal> changes_;
  QLabel* lines_ = nullptr;
  bool looking_ = false;
};

}  // namespace somnara
