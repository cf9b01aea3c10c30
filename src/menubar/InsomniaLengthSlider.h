#pragma once

#include <QSlider>

#include "qtbridge/DefaultsSignal.h"

namespace somnara {

class MenuBarAppDelegate;

/// A horizontal slider for the Insomnia length, 0 to 8 hours in steps of
/// 5 minutes, that hands each length the user lets go of, in seconds, to
/// the agent (which takes it and writes "insomniaslidervalue"), and shows
/// the length in force (the setting "insomniatime", whichever way it was
/// chosen). The delegate and controller outlive it.
class InsomniaLengthSlider final : public QSlider {
  Q_OBJECT

 public:
  InsomniaLengthSlider(MenuBarAppDelegate& delegate, UserDefaultsController& controller, QWidget* parent = nullptr);

 private:
  void write();
  void follow();

  MenuBarAppDelegate& delegate_;
  UserDefaultsController& controller_;
  qtbridge::DefaultsSignal length_;
};

}  // namespace somnara
