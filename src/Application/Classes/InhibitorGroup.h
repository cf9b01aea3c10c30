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
/// awake. Nothing is read before startLooking(), so reading never holds the
/// window back from showing; from then on the list is read whenever the
/// group shows and kept current while it is shown (see InhibitorList), and
/// left alone while it is hidden. The port outlives it.
class InhibitorGroup final : public QGroupBox {
  Q_OBJECT

 public:
  InhibitorGroup(host::Inhibitors& inhibitors, QWidget* parent);
  ~InhibitorGroup() override;

  /// Reads the list now when the group is shown, else once it shows.
  void startLooking();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void look();
  void fill();

  InhibitorList list_;
  // Declared after the list it observes, so it goes first.
  std::unique_ptr<qtbridge::KeyValueSignal> changes_;
  QLabel* lines_ = nullptr;
  bool started_ = false;
  bool looking_ = false;
};

}  // namespace somnara
