#pragma once

#include <QObject>

#include <string>

#include "core/KeyValueObservable.h"

namespace somnara::qtbridge {

/// Turns the did-change notices of one property of an observable object
/// (including notices of the properties it depends on) into the Qt signal
/// changed(), so that widgets can follow the property. The object must
/// outlive this bridge; both live on the run loop's thread.
class KeyValueSignal final : public QObject {
  Q_OBJECT

 public:
  KeyValueSignal(KeyValueObservable& object, const std::string& key, QObject* parent = nullptr);
  ~KeyValueSignal() override;

 signals:
  void changed();

 private:
  KeyValueObservable& object_;
  KeyValueObservable::ObserverId observer_;
};

}  // namespace somnara::qtbridge
