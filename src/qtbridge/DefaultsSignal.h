#pragma once

#include <QObject>

#include <string>

#include "core/UserDefaultsController.h"
#include "host/Registration.h"

namespace somnara::qtbridge {

/// Turns the change notices of one setting, at a key path "values.<key>" of
/// the program's shared defaults controller, into the Qt signal changed().
/// Lives on the run loop's thread; the controller must outlive it.
class DefaultsSignal final : public QObject {
  Q_OBJECT

 public:
  DefaultsSignal(UserDefaultsController& controller, const std::string& keyPath, QObject* parent = nullptr);

 signals:
  void changed();

 private:
  host::RegistrationPtr registration_;
};

}  // namespace somnara::qtbridge
