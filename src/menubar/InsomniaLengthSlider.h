#pragma once

#include <QSlider>

#include "host/Defaults.h"
#include "qtbridge/DefaultsSignal.h"

namespace somnara {

/// A horizontal slider for the Insomnia length, 0 to 8 hours in steps of
/// 5 minutes, that writes each length the user lets go of, in seconds, to
/// the setting "insomniaslidervalue", and shows the length in force (the
/// setting "insomniatime", whichever way it was chosen). The defaults and
/// controller outlive it.
class InsomniaLengthSlider final : public QSlider {
  Q_OBJECT

 public:
  InsomniaLengthSlider(host::Defaults& defaults, UserDefaultsController& controller, QWidget* parent = nullptr);

 private:
  void write();
  void follow();

  host::Defaults& defaults_;
  UserDefaultsController& controller_;
  qtbridge::DefaultsSignal length_;
};

}  // namespace somnara
