#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/Defaults.h"
#include "plist/Value.h"

class QButtonGroup;
class QCheckBox;
class QDoubleSpinBox;
class QLineEdit;
class QSlider;
class QSpinBox;

namespace somnara {

class UserDefaultsController;

/// The settings window's table of settings and their controls: one row per
/// setting, each naming its key in the program's settings domain, the
/// control, how a stored value is shown on the control, what the control's
/// value is stored as, and what is shown while the key is missing.
///
/// The table is all the window knows of its settings: a user's change is
/// written at once (nothing when the store already holds that value), a
/// change of a row's key made elsewhere is shown on its control and then
/// announced by changed(), and showAll() shows every row. Showing never
/// writes. Lives on the run loop's thread; the store and the controls
/// outlive it.
class SettingBindings final : public QObject {
  Q_OBJECT

 public:
  struct Row {
    std::string key;
    QObject* control;
    /// Shown while the key is missing.
    Value fallback;
    /// Puts a value on the control.
    std::function<void(const Value&)> show;
    /// The control's value as stored; nullopt removes the key.
    std::function<std::optional<Value>()> stored;
    /// Where the shown value comes from, when not the store (then the
    /// fallback is never used).
    std::function<Value()> source;
  };

  SettingBindings(host::Defaults& defaults, UserDefaultsController& values, QObject* parent);
  ~SettingBindings() override;

  /// On or off.
  void bind(QCheckBox* box, const char* key, bool fallback = false);
  /// A whole number; stored as an integer.
  void bind(QSpinBox* box, const char* key, std::int64_t fallback);
  /// Stored as a real number.
  void bind(QDoubleSpinBox* box, const char* key, double fallback);
  /// A fraction 0 to 1 on a slider running from 0 to 100.
  void bindFraction(QSlider* slider, const char* key, double fallback);
  /// A file path, stored once editing finishes; an empty (or blank) path
  /// removes the key, so the fallback applies. A change made elsewhere
  /// never replaces the text while the field has the keyboard.
  void bind(QLineEdit* field, const char* key);
  /// The checked button's id, shown from source() rather than the store.
  void bind(QButtonGroup* group, const char* key, std::function<std::int64_t()> source);

  /// Shows every row.
  void showAll();

  /// Writes value under key and saves the store at once, so nothing is
  /// lost when the window closes right away; nullopt removes the key.
  /// Nothing happens when the store already holds exactly that.
  void write(const std::string& key, const std::optional<Value>& value);

 signals:
  /// A row's key was changed elsewhere; its control shows the new value.
  void changed();

 private:
  void add(Row row);
  void show(const Row& row);
  void write(std::size_t row);

  host::Defaults& defaults_;
  UserDefaultsController& values_;
  std::vector<Row> rows_;
  std::vector<host::RegistrationPtr> observations_;
};

}  // namespace somnara
