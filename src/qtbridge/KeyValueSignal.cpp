#include "qtbridge/KeyValueSignal.h"

namespace somnara::qtbridge {

KeyValueSignal::KeyValueSignal(KeyValueObservable& object, const std::string& key, QObject* parent)
    : QObject(parent), object_(object) {
  observer_ = object_.addObserver(key, [this](const std::string&, KeyValueObservable::Phase phase) {
    if (phase == KeyValueObservable::Phase::DidChange) emit changed();
  });
}

KeyValueSignal::~KeyValueSignal() { object_.removeObserver(observer_); }

}  // namespace somnara::qtbridge
