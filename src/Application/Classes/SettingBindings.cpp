#include "Application/Classes/SettingBindings.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include "core/UserDefaultsController.h"

namespace somnara {
namespace {

// Slider positions per unit of a stored fraction.
constexpr double kFractionSteps = 100.0;

}  // namespace

SettingBindings::SettingBindings(host::Defaults& defaults, UserDefaultsController& values, QObject* parent)
    : QObject(parent), defaults_(defaults), values_(values) {}

SettingBindings::~SettingBindings() = default;

void SettingBindings::bind(QCheckBox* box, const char* key, bool fallback) {
  add({key, box, Value(fallback), [box](const Value& v) { box->setChecked(v.boolean()); },
       [box] { return std::optional<Value>(box->isChecked()); }, nullptr});
  connect(box, &QCheckBox::toggled, this, [this, row = rows_.size() - 1] { write(row); });
}

void SettingBindings::bind(QSpinBox* box, const char* key, std::int64_t fallback) {
  add({key, box, Value(fallback), [box](const Value& v) { box->setValue(static_cast<int>(v.integer().value_or(0))); },
       [box] { return std::optional<Value>(box->value()); }, nullptr});
  connect(box, &QSpinBox::valueChanged, this, [this, row = rows_.size() - 1] { write(row); });
}

void SettingBindings::bind(QDoubleSpinBox* box, const char* key, double fallback) {
  add({key, box, Value(fallback), [box](const Value& v) { box->setValue(v.numberValue()); },
       [box] { return std::optional<Value>(box->value()); }, nullptr});
  connect(box, &QDoubleSpinBox::valueChanged, this, [this, row = rows_.size() - 1] { write(row); });
}

void SettingBindings::bindFraction(QSlider* slider, const char* key, double fallback) {
  add({key, slider, Value(fallback),
       [slider](const Value& v) { slider->setValue(static_cast<int>(v.numberValue() * kFractionSteps + 0.5)); },
       [slider] { return std::optional<Value>(slider->value() / kFractionSteps); }, nullptr});
  connect(slider, &QSlider::valueChanged, this, [this, row = rows_.size() - 1] { write(row); });
}

void SettingBindings::bind(QLineEdit* field, const char* key) {
  add({key, field, Value(""),
       [field](const Value& v) {
         if (!field->hasFocus()) field->setText(v.string() ? QString::fromStdString(*v.string()) : QString());
       },
       [field] {
         const std::string path = field->text().trimmed().toStdString();
         return path.empty() ? std::nullopt : std::optional<Value>(path);
       },
       nullptr});
  connect(field, &QLineEdit::editingFinished, this, [this, row = rows_.size() - 1] { write(row); });
}

void SettingBindings::bind(QButtonGroup* group, const char* key, std::function<std::int64_t()> source) {
  add({key, group, Value(0),
       [group](const Value& v) {
         if (auto* b = group->button(static_cast<int>(v.integer().value_or(0)))) b->setChecked(true);
       },
       [group] { return std::optional<Value>(group->checkedId()); },
       [source = std::move(source)] { return Value(source()); }});
  connect(group, &QButtonGroup::idClicked, this, [this, row = rows_.size() - 1] { write(row); });
}

void SettingBindings::add(Row row) {
  rows_.push_back(std::move(row));
  const std::size_t index = rows_.size() - 1;
  observations_.push_back(values_.observe(UserDefaultsController::keyPath(rows_[index].key), [this, index] {
    show(rows_[index]);
    emit changed();
  }));
}

void SettingBindings::show(const Row& row) {
  const QSignalBlocker block(row.control);
  row.show(row.source ? row.source()
                      : values_.value(UserDefaultsController::keyPath(row.key)).value_or(row.fallback));
}

void SettingBindings::showAll() {
  for (const Row& row : rows_) show(row);
}

void SettingBindings::write(std::size_t row) { write(rows_[row].key, rows_[row].stored()); }

void SettingBindings::write(const std::string& key, const std::optional<Value>& value) {
  if (defaults_.value(key) == value) return;
  if (value)
    defaults_.setValue(key, *value);
  else
    defaults_.removeValue(key);
  defaults_.synchronize();
}

}  // namespace somnara
