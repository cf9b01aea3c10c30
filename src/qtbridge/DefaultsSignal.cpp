#include "qtbridge/DefaultsSignal.h"

namespace somnara::qtbridge {

DefaultsSignal::DefaultsSignal(UserDefaultsController& controller, const std::string& keyPath, QObject* parent)
    : QObject(parent), registration_(controller.observe(keyPath, [this] { emit changed(); })) {}

}  // namespace somnara::qtbridge
